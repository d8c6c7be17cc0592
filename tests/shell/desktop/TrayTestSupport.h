// Test peers for the tray application: a private session bus (a real
// dbus-daemon) and a fake StatusNotifierWatcher with a registered host that
// records the items registering with it. Their destructors stop what they
// started.
#pragma once

#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>

namespace pelorus::test {

// dbus-daemon --session --nofork, on a private address.
class PrivateBus {
public:
    PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    ~PrivateBus();
    // Empty when the daemon could not be started.
    const QString& address() const { return address_; }

private:
    int pid_ = -1;
    QString address_;
};

// Xvfb on a free display number, without TCP.
class VirtualDisplay {
public:
    VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;
    ~VirtualDisplay();
    // ":N", or empty when Xvfb could not be started.
    const std::string& display() const { return display_; }

private:
    int pid_ = -1;
    std::string display_;
};

// org.kde.StatusNotifierWatcher at /StatusNotifierWatcher, on its own
// connection to the bus; destroying it takes the name off the bus, as a
// panel that quits does.
class FakeTrayWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    explicit FakeTrayWatcher(const QString& address);
    ~FakeTrayWatcher() override;
    bool registered() const { return registered_; }  // the name is ours

    bool hostRegistered() const { return true; }
    QStringList items() const { return items_; }
    // The process ids of the items' senders, in order.
    QList<qint64> pids() const { return pids_; }
    int protocolVersion() const { return 0; }

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message);
    void RegisterStatusNotifierHost(const QString& service);

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    QString connectionName_;
    bool registered_ = false;
    QStringList items_;
    QList<qint64> pids_;
};

// Runs the event loop until done() holds or the limit (ms) passed.
bool spinUntil(const std::function<bool()>& done, int milliseconds = 10000);

} // namespace pelorus::test
