// The session's life: connecting, the greeting, the command loop, the data
// stage, and the end. Commands are in SessionCommands.cpp, the judgement of
// a mail in SessionDecision.cpp, forwarding and cancelling in
// SessionForwarding.cpp.
#include "relay/SMTPCommunicator.h"

#include "config/LogTag.h"
#include "config/LogWriter.h"
#include "foundation/Exception.h"
#include "policy/CautionAttachment.h"
#include "policy/CautionDomain.h"
#include "policy/OrganisationLists.h"
#include "policy/TrustedDomain.h"
#include "policy/TrustedRecipient.h"
#include "relay/Notifications.h"
#include "relay/RelayError.h"
#include "relay/SecureConnection.h"
#include "relay/SessionRegistry.h"
#include "relay/SessionText.h"
#include "relay/SocketOwner.h"

#include <cstdio>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace MAIL;

namespace {

constexpr std::string_view LogClass = "SMTPCommunicator";

// Replies and commands are whole when written: each goes out at once, never
// held back waiting for the peer's acknowledgement of the one before (a
// group's replies would otherwise reach the client a delayed-ACK later).
void sendAtOnce(int descriptor)
{
    const int on = 1;
    (void)::setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// By the numbers of SMTPCommunicator::Stage.
constexpr const char* StageNames[] = {"command", "data", "decided", "closing"};

} // namespace

SMTPCommunicator::SMTPCommunicator(int clientHandle, std::string server, std::uint16_t port,
                                   bool serverConfigured, ListenEndpoint self, ServerSecurity security)
    : serverName_(std::move(server)), serverPort_(port), serverConfigured_(serverConfigured), self_(self),
      security_(std::move(security))
{
    clientSocket_.attach(clientHandle);
    sendAtOnce(clientHandle);
    debug(getLogWriter(), "SMTPCommunicator#SMTPCommunicator,1,server=[%s] port=[%d]", serverName_.c_str(),
          serverPort_);
    lastProgress_ = std::chrono::steady_clock::now();
    SessionRegistry::instance().add(this);
}

SMTPCommunicator::~SMTPCommunicator() { SessionRegistry::instance().remove(this); }

void SMTPCommunicator::setStage(Stage next)
{
    if (next == stage_)
        return;
    trace(getLogWriter(), "%s,1,%s -> %s", logTag(LogClass).c_str(), StageNames[static_cast<int>(stage_)],
          StageNames[static_cast<int>(next)]);
    stage_ = next;
}

void SMTPCommunicator::connectServer()
{
    if (security_.mode == SecurityMode::Unknown) {
        // Never a quiet fall-back to plain text.
        refuseInsecure(ERR_TLS_SECURITY_SETTING, "unknown Security setting [" + security_.setting + "]");
    }
    if (security_.mode != SecurityMode::None && !security_.verify)
        error(getLogWriter(), "SMTPCommunicator#connectServer,6,Certificate verification is off (VerifyServer=0): "
                              "the SMTP server is not checked");
    // On the session thread, so a slow or silent server never holds up the
    // listener's accepting of other clients.
    ConnectResult connection;
    connection.error = ERR_HOST_LOOKUP;
    if (serverConfigured_)
        connection = connectToServer(serverName_, serverPort_, ConnectMilliseconds, self_);
    if (connection.error == ERR_HOST_LOOKUP) {
        error(getLogWriter(), "SMTPCommunicator#SMTPCommunicator,2,Failed to get an address for SMTPServer =[%s]\n",
              serverName_.c_str());
        // The name comes from the settings file: escaped, it cannot add a line.
        char text[1024];
        std::snprintf(text, sizeof text,
                      "Failed to get the address for the SMTP server '%s'.\r\n\r\nPlease reconfirm the SMTP server "
                      "name, or this PC maybe is not connected to Internet.",
                      visibleText(serverName_, false).c_str());
        showErrorBalloon(text);
        serverFailed(ERR_HOST_LOOKUP);
    }
    if (connection.descriptor < 0) {
        error(getLogWriter(), "SMTPCommunicator#SMTPCommunicator,3,Failed to connect a SMTPServer Port=[%d]\n",
              serverPort_);
        serverFailed(ERR_SERVER_CONNECT);
    }
    serverSocket_.attach(connection.descriptor);
    sendAtOnce(connection.descriptor);
    // Each connection reads the lists afresh: edits apply from the next one.
    TrustedDomain().load(trustedDomains_);
    TrustedRecipient().load(trustedRecipients_);
    CautionDomain().load(cautionDomains_);
    CautionAttachment().load(cautionAttachments_);
    reportIgnoredOrganisationFiles([](std::string_view text) { showWarningBalloon(text); });
    debug(getLogWriter(), "SMTPCommunicator#SMTPCommunicator,5,End");
}

void SMTPCommunicator::run()
{
    // Another account's program gets no server, no question, no balloon.
    if (!admitClient(clientSocket_)) {
        delete this;  // the client socket closes with the session
        return;
    }
    debug(getLogWriter(), "SMTPCommunicator#run,1,Start");
    // The one place that decides what a failure means. A failure of either
    // peer ends the session with the balloon of its code; anything else is
    // a bug of ours, and the client hears that its mail was not sent.
    bool bug = false;
    try {
        connectServer();
        greet();
        commandLoop();
    } catch (const RelayFailure& failure) {
        const char* text = failure.what();
        if (text[0] != '\0')
            showErrorBalloon(text);
        error(getLogWriter(), "SMTPCommunicator#run,17,Exception =%d %s", failure.code(), text);
    } catch (const Exception& e) {
        error(getLogWriter(), "SMTPCommunicator#run,18,Exception %s", e.getMessage());
        bug = true;
    } catch (const std::exception& e) {
        error(getLogWriter(), "%s,1,Bug: %s", logTag(LogClass).c_str(), e.what());
        bug = true;
    } catch (...) {
        error(getLogWriter(), "SMTPCommunicator#run,19,Unknown exception");
        bug = true;
    }
    if (bug)
        tellClient(proxyReply(ProxyReply::InternalError));
    setStage(Stage::Closing);
    mail_.reset();
    debug(getLogWriter(), "SMTPCommunicator#run,20,End");
    if (serverTls_)
        serverTls_->close(CloseNotifyMilliseconds);
    closeConnections();
    delete this;
}

void SMTPCommunicator::refuseInsecure(int code, const std::string& detail)
{
    error(getLogWriter(), "SMTPCommunicator#secure,1,No encrypted connection to SMTPServer=[%s] Port=[%d] "
                          "Security=[%s] code=%d: %s",
          serverName_.c_str(), serverPort_, security_.setting.c_str(), code, detail.c_str());
    closeServer();
    tellClient(tlsRefusalReply(code));
    serverFailed(code);
}

void SMTPCommunicator::greet()
{
    const bool secured = security_.mode != SecurityMode::None;
    if (security_.mode == SecurityMode::Tls) {
        std::string detail;
        if (const int failure = beginTls(serverSocket_, serverName_, security_, securityStepMilliseconds(),
                                         serverTls_, detail))
            refuseInsecure(failure, detail);
        server_ = serverTls_.get();
        serverReplies_.use(*serverTls_);
        debug(getLogWriter(), "SMTPCommunicator#secure,2,TLS is up: %s", serverTls_->peer().protocol.c_str());
    }
    // Up to the finished handshake a silent server is on the wrong port or
    // mode: the client hears so within the step limit, not minutes later.
    std::string reply;
    int code = 0;
    if (!serverReplies_.read(reply, code, secured ? securityStepMilliseconds() : ReplyMilliseconds)) {
        if (secured && serverReplies_.timedOut())
            refuseInsecure(ERR_TLS_NO_ANSWER, "no greeting in time (a server on port 465 usually needs Security tls)");
        if (secured)
            refuseInsecure(ERR_SERVER_RECV, "the connection broke before the greeting");
        debug(getLogWriter(), "SMTPCommunicator#fromServerToClient,2,failed to recv from a server");
        serverFailed(ERR_SERVER_RECV);
    }
    debug(getLogWriter(), "SMTPCommunicator#fromServerToClient,3,recv=[%s]", reply.c_str());
    sendToClient(reply);
    if (code != 220) {
        error(getLogWriter(), "SMTPCommunicator#run,2,SMTPServer not ready:error=%d", code);
        showErrorBalloon("SMTP Server is NOT ready.");
        serverFailed(code);
    }
    upgradePending_ = security_.mode == SecurityMode::StartTls;
}

void SMTPCommunicator::upgradeServer(const std::string& line)
{
    std::string detail;
    const int failure = startTlsUpgrade(serverSocket_, serverReplies_, serverName_, upgradeEhloName(line), security_,
                                        securityStepMilliseconds(), serverTls_, detail);
    if (failure != 0)
        refuseInsecure(failure, detail);
    server_ = serverTls_.get();
    upgradePending_ = false;
    debug(getLogWriter(), "SMTPCommunicator#secure,3,STARTTLS done: %s", serverTls_->peer().protocol.c_str());
}

void SMTPCommunicator::commandLoop()
{
    std::string line;
    while (stage_ != Stage::Closing && !stopRequested_.load()) {
        if (stage_ == Stage::Data) {
            receiveData();
            continue;
        }
        const ClientReader::Status status = clientReader_.readLine(line, ClientIdleMilliseconds);
        if (status == ClientReader::Status::TooLong) {
            sendToClient(ProxyReply::LineTooLong);
            return;
        }
        if (status == ClientReader::Status::TimedOut) {
            sendToClient(ProxyReply::ClientIdle);
            return;
        }
        if (status != ClientReader::Status::Ok)
            return;  // the client has gone: the session ends quietly
        if (mail_)
            mail_->bytes += line.size();
        debug(getLogWriter(), "SMTPCommunicator#run,3,Mail Session=%d data_stage=%d RECV_LEN=%d", mailCounter_,
              static_cast<int>(stage_), static_cast<int>(line.size()));
        handleLine(line);
    }
}

void SMTPCommunicator::receiveData()
{
    std::string_view bytes;
    const ClientReader::Status status = clientReader_.available(bytes, ClientIdleMilliseconds);
    if (status == ClientReader::Status::TimedOut)
        sendToClient(ProxyReply::ClientIdle);
    if (status != ClientReader::Status::Ok) {
        setStage(Stage::Closing);  // idle, or gone in the middle of its data
        return;
    }
    MailTransaction& mail = *mail_;
    const std::size_t taken = mail.scanner.scan(bytes);
    const std::string_view chunk = bytes.substr(0, taken);
    debug(getLogWriter(), "SMTPCommunicator#run,3,Mail Session=%d data_stage=%d RECV_LEN=%d", mailCounter_,
          static_cast<int>(stage_), static_cast<int>(taken));
    mail.spool.writeContent(chunk, textOf(mail.headers.getContentType()));
    // Only the header block is parsed; the parser keeps no body text.
    if (!mail.headers.isHeaderEnded())
        (void)mail.headers.parse(chunk);
    mail.bytes += taken;
    clientReader_.consume(taken);
    progressNotice();
    if (mail.scanner.ended()) {
        setStage(Stage::Decided);
        if (confirm() == 2)
            setStage(Stage::Closing);
    }
}

void SMTPCommunicator::progressNotice()
{
    if (mail_->sender().empty() || mail_->bytes <= 10)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastProgress_ < std::chrono::seconds(3))
        return;
    // The sender is the client's text: escaped, it cannot add a line.
    char text[249];
    std::snprintf(text, sizeof text, "Receiving a mail from %s: Total=%d(KB)",
                  visibleText(mail_->sender(), false).c_str(), static_cast<int>(mail_->bytes / 1024));
    showTimedBalloon(text, 3);
    lastProgress_ = now;
}

void SMTPCommunicator::initialize(std::string sender)
{
    debug(getLogWriter(), "SMTPCommunicator#initialize,1,Start");
    mail_ = std::make_unique<MailTransaction>(std::move(sender));
    mail_->spool.initialize();
    debug(getLogWriter(), "SMTPCommunicator#initialize,3,End");
}

void SMTPCommunicator::forgetMail() { mail_.reset(); }

int SMTPCommunicator::readReply(std::string& reply, int milliseconds)
{
    int code = 0;
    if (!serverReplies_.read(reply, code, milliseconds)) {
        debug(getLogWriter(), "SMTPCommunicator#fromServerToClient,2,failed to recv from a server");
        serverFailed(ERR_SERVER_RECV);
    }
    debug(getLogWriter(), "SMTPCommunicator#fromServerToClient,3,recv=[%s]", reply.c_str());
    return code;
}

int SMTPCommunicator::fromServer()
{
    trace(getLogWriter(), "SMTPCommunicator#fromServer,1,recv from mailserver");
    std::string reply;
    int code = 0;
    if (!serverReplies_.read(reply, code, ReplyMilliseconds)) {
        error(getLogWriter(), "SMTPCommunicator#fromServer,2,failed to recv from a server");
        serverFailed(ERR_SERVER_RECV);
    }
    debug(getLogWriter(), "SMTPCommunicator#fromServer,3,recv=[%s]", reply.c_str());
    return code;
}

void SMTPCommunicator::sendToClient(std::string_view text)
{
    if (clientSocket_.sendAll(text.data(), text.size(), SendSeconds) != static_cast<ssize_t>(text.size()))
        clientFailed(ERR_CLIENT_SEND);
}

void SMTPCommunicator::tellClient(std::string_view text)
{
    // Said on the way out: a client that has gone changes nothing.
    (void)clientSocket_.sendAll(text.data(), text.size(), SendSeconds);
}

void SMTPCommunicator::sendToServer(std::string_view text)
{
    if (server_->sendAll(text.data(), text.size(), SendSeconds) != static_cast<ssize_t>(text.size()))
        serverFailed(ERR_SERVER_SEND);
}

void SMTPCommunicator::closeServer()
{
    if (serverTls_)
        serverTls_->close(CloseNotifyMilliseconds);
    std::lock_guard guard(SessionRegistry::instance().socketLock(this));
    serverSocket_.close();
}

void SMTPCommunicator::closeConnections()
{
    std::lock_guard guard(SessionRegistry::instance().socketLock(this));
    serverSocket_.close();
    clientSocket_.close();
}

void SMTPCommunicator::requestStop()
{
    stopRequested_.store(true);
    // A confirmed mail on its way may finish; an open confirmation and the
    // held mails are cancelled by the registry, and their clients still get
    // the 450. Once the grace period is over (cutting), no session is spared.
    if (!MAIL::SessionRegistry::instance().cutting() && (forwarding_.load() || waiting_.load()))
        return;
    clientSocket_.shutdown(SHUT_RDWR);
    serverSocket_.shutdown(SHUT_RDWR);
}
