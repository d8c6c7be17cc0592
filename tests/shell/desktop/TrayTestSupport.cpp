#include "TrayTestSupport.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QThread>

#include <csignal>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelorus::test {

PrivateBus::PrivateBus()
{
    int out[2];
    if (::pipe(out) != 0)
        return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address=1",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c = 0;
    pollfd wait{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&wait, 1, 10000) > 0 && ::read(out[0], &c, 1) == 1)
        line += c;
    ::close(out[0]);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    address_ = QString::fromStdString(line);
}

PrivateBus::~PrivateBus()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
}

VirtualDisplay::VirtualDisplay()
{
    int out[2];
    if (::pipe(out) != 0)
        return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::close(out[0]);
        const std::string fd = std::to_string(out[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "1024x768x24",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string number;
    char c = 0;
    pollfd wait{out[0], POLLIN, 0};
    while (number.find('\n') == std::string::npos && ::poll(&wait, 1, 20000) > 0 && ::read(out[0], &c, 1) == 1)
        number += c;
    ::close(out[0]);
    while (!number.empty() && number.back() == '\n')
        number.pop_back();
    if (!number.empty())
        display_ = ":" + number;
}

VirtualDisplay::~VirtualDisplay()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
}

namespace {
int connections = 0;
}

FakeTrayWatcher::FakeTrayWatcher(const QString& address)
    : connectionName_(QStringLiteral("fake-tray-watcher-%1").arg(++connections))
{
    QDBusConnection bus = QDBusConnection::connectToBus(address, connectionName_);
    if (!bus.isConnected())
        return;
    bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties |
                           QDBusConnection::ExportAllSignals);
    registered_ = bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

FakeTrayWatcher::~FakeTrayWatcher()
{
    {
        QDBusConnection bus(connectionName_);
        bus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
    }
    QDBusConnection::disconnectFromBus(connectionName_);
}

void FakeTrayWatcher::RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message)
{
    // An item may name its object path instead of its bus name.
    const QDBusReply<uint> pid = QDBusConnection(connectionName_).interface()->servicePid(message.service());
    if (pid.isValid())
        pids_ << static_cast<qint64>(pid.value());
    items_ << (service.startsWith(QLatin1Char('/')) ? message.service() + service : service);
    emit StatusNotifierItemRegistered(service);
}

void FakeTrayWatcher::RegisterStatusNotifierHost(const QString&) { emit StatusNotifierHostRegistered(); }

bool spinUntil(const std::function<bool()>& done, int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(5);
    }
    return true;
}

} // namespace pelorus::test
