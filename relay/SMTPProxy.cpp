#include "relay/SMTPProxy.h"

#include "config/LogWriter.h"
#include "config/ProxyConfiguration.h"
#include "foundation/Exception.h"
#include "relay/Notifications.h"
#include "relay/RelayError.h"
#include "relay/SMTPCommunicator.h"
#include "relay/ServerConnection.h"
#include "relay/ServerSecurity.h"

#include <cerrno>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace MAIL;

namespace {

thread_local int constructionError = 0;

// Shows the listener's message box and logs, then throws the code.
[[noreturn]] void fail(int code, const char* box)
{
    showMessageBox("Pelorus", box, NoticeKind::Error);
    throw code;
}

} // namespace

int SMTPProxy::lastSystemError() { return constructionError; }

SMTPProxy::SMTPProxy()
{
    constructionError = 0;
    LogWriter* log = getLogWriter();
    ProxyConfiguration configuration;
    configuration.getProxyPort(port_);
    std::string listenAddress;
    configuration.getListenAddress(listenAddress);
    debug(log, "SMTPProxyPort=[%d]", port_);
    debug(log, "SMTPProxyThreadMain,1,Start");
    debug(log, "SmtpProxyThreaMain,3,localPort=%d", port_);

    stopEvent_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    listenSocket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenSocket_ < 0 || stopEvent_ < 0) {
        constructionError = errno;
        error(log, "SmtpProxyThreaMain,4,");
        closeSockets();
        fail(ERR_SOCKET, "Error in socket fuction:INVALID_SOCKET\r\n");
    }
    const int on = 1;
    if (::setsockopt(listenSocket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        constructionError = errno;
        closeSockets();
        error(log, "SmtpProxyThreaMain,4,Failed to setsockopt");
        fail(ERR_SETSOCKOPT, "Error in setsockopt fuction(SO_REUSEADDR).\r\n");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    // An address that is not dotted IPv4 fails like a bind: no fallback to
    // listening everywhere.
    int bindError = EINVAL;
    if (parseIPv4(listenAddress, address_)) {
        address.sin_addr.s_addr = address_;
        bindError = ::bind(listenSocket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
    }
    if (bindError != 0) {
        constructionError = bindError;
        error(log, "SmtpProxyThreaMain,5,bind error %d", bindError);
        closeSockets();
        fail(ERR_BIND, "Error in bind fuction.\r\nCheck the port number for Pelorus.");
    }
    if (::listen(listenSocket_, 100) != 0) {
        const int listenError = errno;
        constructionError = listenError;
        error(log, "SmtpProxyThreaMain,6,listen error %d", listenError);
        closeSockets();
        fail(ERR_LISTEN, "Error in listen fuction.\r\n");
    }
    debug(log, "SMTPProxy#SMTPProxy,7,End");
}

SMTPProxy::~SMTPProxy() { closeSockets(); }

void SMTPProxy::closeSockets()
{
    if (listenSocket_ >= 0) {
        ::shutdown(listenSocket_, SHUT_RDWR);
        ::close(listenSocket_);
        listenSocket_ = -1;
    }
    if (stopEvent_ >= 0) {
        ::close(stopEvent_);
        stopEvent_ = -1;
    }
}

void SMTPProxy::stop()
{
    // Everything this needs of the object is read before the write: from
    // the write on, the listener may close the event and delete itself.
    // Until then it cannot, as only the event ends its loop.
    LogWriter* log = getLogWriter();
    const int event = stopEvent_;
    debug(log, "SMTPProxy#stop,1,Start");
    looping_.store(false);
    debug(log, "SMTPProxy#stop,2,closed a socket");
    const std::uint64_t one = 1;
    while (::write(event, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void SMTPProxy::run()
{
    LogWriter* log = getLogWriter();
    debug(log, "SMTPProxy#run,1,Start");
    looping_.store(true);
    for (;;) {
        debug(log, "SmtpProxy#run,2,Call accept");
        // Once stop() has cleared the flag, only the event is waited for: a
        // client arriving meanwhile is neither accepted nor a reason to end
        // before stop() is done with the object.
        pollfd waits[2] = {{stopEvent_, POLLIN, 0}, {listenSocket_, POLLIN, 0}};
        const int ready = ::poll(waits, looping_.load() ? 2 : 1, -1);
        if (ready > 0 && waits[0].revents != 0) {
            debug(log, "SmtpProxy#run,4,loopging is false");
            break;
        }
        if (ready > 0 && waits[1].revents != 0)
            acceptOne();
    }
    debug(log, "SmtpProxy#run,8,close smtpProxySocket");
    closeSockets();
    debug(log, "SmtpProxy#run,9,End");
    delete this;
}

void SMTPProxy::acceptOne()
{
    LogWriter* log = getLogWriter();
    const int client = ::accept4(listenSocket_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
        switch (errno) {
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
            // Out of resources: say so once, breathe, and go on listening.
            if (!resourceErrorLogged_)
                error(log, "SmtpProxy#run,3,accept failed for lack of resources, errno=%d", errno);
            resourceErrorLogged_ = true;
            ::usleep(100 * 1000);
            return;
        default:
            return;  // EINTR, ECONNABORTED, EPROTO, EAGAIN: try again at once
        }
    }
    resourceErrorLogged_ = false;
    debug(log, "SmtpProxy#run,5,OK,Accepted");
    try {
        ProxyConfiguration configuration;
        // The server, its port and its security come from one reading of
        // the settings, so a session never mixes an old value with a new one.
        const Registry::HeldReads oneReading(configuration);
        std::string server;
        std::uint16_t port = ProxyConfiguration::DefaultPort;
        const bool configured = configuration.getServer(server);
        configuration.getPort(port);
        // Read with Server and Port, so one session keeps one mode.
        ServerSecurity security = readServerSecurity(configuration);
        auto session = std::make_unique<SMTPCommunicator>(client, server, port, configured,
                                                          ListenEndpoint{address_, port_}, std::move(security));
        session->start();
        session.release();  // the session owns itself from here on
        debug(log, "SmtpProxy#run,6,SMTPCommunicator started");
    } catch (int code) {
        debug(log, "SmtpProxy#run,7,Exception %d", code);
        const char* text = relayErrorText(code);
        if (text[0] != '\0')
            showErrorBalloon(text);
    } catch (...) {
        // A session that could not start has closed its client already.
    }
}
