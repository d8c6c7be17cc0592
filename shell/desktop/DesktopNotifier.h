// DesktopNotifier: the balloons and message boxes of the relay on the
// desktop.
//
// While it lives it is the notification sink and the message-box sink
// (setNotificationSink, setMessageBoxSink); destroying it restores the
// defaults. The sinks may be called from any thread and never block: each
// request reaches the GUI thread by a queued call.
//
// A balloon goes to the desktop's notification service
// (org.freedesktop.Notifications) whenever one answers on the bus: app name
// and summary "Pelorus", no actions, icon dialog-information,
// dialog-warning or dialog-error, urgency 0 (and the hint "transient") for
// information and 1 for warnings and errors, expire_timeout the display
// time, and replaces_id the id of the previous notice, so that a newer
// balloon replaces the one shown instead of piling up. CR LF becomes LF,
// every other control character is shown escaped (visibleText), and &, <
// and > are escaped when the server reads body markup. Requests are
// sent one at a time, in order. Only when no service answers is the
// balloon shown on the tray icon (QSystemTrayIcon::showMessage); without a
// tray icon it is dropped, as a balloon with no icon to hang on.
//
// A message box is a non-modal QMessageBox made on the GUI thread, its text
// shown as plain text, escaped as a notice is; it deletes itself when closed.
#pragma once

#include "relay/Notifications.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <memory>

class QSystemTrayIcon;

namespace MAIL {

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    // On the GUI thread, after the QApplication; uses the session bus.
    explicit DesktopNotifier(QObject* parent = nullptr);
    // The same on a given bus (a private one in tests).
    explicit DesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);
    ~DesktopNotifier() override;
    DesktopNotifier(const DesktopNotifier&) = delete;
    DesktopNotifier& operator=(const DesktopNotifier&) = delete;

    // The tray icon used when there is no notification service; null for none.
    void setTrayIcon(QSystemTrayIcon* icon);

    // GUI thread: what the sinks queue.
    void showBalloon(const Balloon& balloon);
    void showMessageBox(const QString& title, const QString& text, NoticeKind kind);

signals:
    // A balloon went to the tray icon because no notification service answered.
    void shownOnTrayIcon(const QString& title, const QString& text);

private:
    struct Gate;
    void install();
    void sendNext();
    void askCapabilities();
    void notify(const Balloon& balloon);
    void showOnTrayIcon(const Balloon& balloon);

    QDBusConnection bus_;
    std::shared_ptr<Gate> gate_;
    QPointer<QSystemTrayIcon> tray_;
    std::deque<Balloon> waiting_;
    bool busy_ = false;             // a call to the service is under way
    bool knowsCapabilities_ = false;
    bool bodyMarkup_ = false;
    unsigned lastId_ = 0;           // the notice a new one replaces
};

} // namespace MAIL
