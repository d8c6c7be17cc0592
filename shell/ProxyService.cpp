#include "shell/ProxyService.h"

#include "config/LogWriter.h"
#include "config/ProxyConfiguration.h"
#include "relay/Notifications.h"
#include "relay/SMTPMessage.h"
#include "relay/SMTPProxy.h"
#include "relay/ServerSecurity.h"
#include "relay/SessionRegistry.h"
#include "shell/IPAddressChangeNotifier.h"
#include "shell/SettingsValidation.h"

#include <chrono>
#include <cstdio>

namespace MAIL {

namespace {

constexpr auto SessionGrace = std::chrono::seconds(5);
constexpr auto CutGrace = std::chrono::seconds(2);

// Once per start: what the security settings leave open.
void warnAboutSecurity()
{
    ProxyConfiguration settings;
    std::string listen;
    settings.getListenAddress(listen);
    for (const std::string& warning : securityWarnings(readServerSecurity(settings), listen))
        showWarningBalloon(warning);
}

} // namespace

ProxyService::ProxyService() = default;

ProxyService::~ProxyService() { stop(); }

void ProxyService::startListener()
{
    auto* listener = new SMTPProxy();  // throws the relay code when it cannot listen
    listenerHandle_ = listener->getHandle();
    port_ = listener->getPort();
    listener_ = listener;
    try {
        listener->start();
    } catch (...) {
        delete listener;
        listener_ = nullptr;
        throw;
    }
    debug(getLogWriter(), "Pelorus#WinMain,5,Started an smtpProxy thread");
}

void ProxyService::stopListener()
{
    if (listener_ == nullptr)
        return;
    listener_->stop();  // the listener deletes itself; only its handle is used from here
    listener_ = nullptr;
    debug(getLogWriter(), "Pelorus#WinMain,4,Waiting a termination of smtpProxy thread");
    listenerHandle_.wait(ThreadHandle::Infinite);
    debug(getLogWriter(), "Pelorus#WinMain,4,Terminated the smtpProxy thread");
}

void ProxyService::start(ConnectivityPost post)
{
    watcher_ = std::make_unique<IPAddressChangeNotifier>(std::move(post));
    watcher_->start();
    try {
        startListener();
    } catch (...) {
        watcher_->stop();
        watcher_->wait(ThreadHandle::Infinite);
        watcher_.reset();
        throw;
    }
    started_ = true;
    warnAboutSecurity();
}

void ProxyService::restartListener()
{
    SMTPProxy* old = listener_;
    ThreadHandle oldHandle = listenerHandle_;
    const std::uint16_t oldPort = port_;
    try {
        startListener();
    } catch (...) {
        listener_ = old;
        listenerHandle_ = oldHandle;
        port_ = oldPort;
        throw;
    }
    if (old != nullptr) {
        old->stop();
        oldHandle.wait(ThreadHandle::Infinite);
    }
}

void ProxyService::stop()
{
    if (watcher_) {
        debug(getLogWriter(), "Pelorus#WinMain,4,Waiting a termination of notifier thread");
        watcher_->stop();
        watcher_->wait(ThreadHandle::Infinite);
        watcher_.reset();
        debug(getLogWriter(), "Pelorus#WinMain,4,Terminated the notifier thread");
    }
    stopListener();
    SessionRegistry& sessions = SessionRegistry::instance();
    sessions.stopAll();
    if (!sessions.waitIdle(SessionGrace)) {
        // A forward still under way is cut: its mail never gets its end
        // mark, and its client never a 250.
        debug(getLogWriter(), "Pelorus#WinMain,4,Cutting the sessions still running");
        sessions.cutAll();
        sessions.waitIdle(CutGrace);
    }
    // Mails of sessions that did not end in time must not stay on disk.
    SMTPMessage::removeLeftovers();
}

std::optional<std::string> ProxyService::notice(int state)
{
    // A watcher's state that arrives after a failed start (or before the
    // start) must not announce a proxy that is not there.
    if (!started_)
        return std::nullopt;
    const char* text = state != 0 ? "Connected to the Internet." : "Not connected to the Internet.";
    if (!firstNotice_)
        return text;
    firstNotice_ = false;
    char startup[256];
    std::snprintf(startup, sizeof startup, "Started Pelorus(Local SMTP Proxy)\r\nPortNumber:%d\r\n\r\n%s", port_, text);
    return startup;
}

} // namespace MAIL
