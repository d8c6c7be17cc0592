#include "relay/SecureConnection.h"

#include "foundation/String.h"
#include "relay/Addresses.h"
#include "relay/CommandGrammar.h"
#include "relay/ProxyReply.h"
#include "relay/RelayError.h"

#include <algorithm>

#include <sys/socket.h>

namespace MAIL {

namespace {

constexpr int CloseNotifyMilliseconds = 1000;

bool sendLine(Socket& socket, const std::string& line, std::string& detail)
{
    if (socket.sendAll(line.data(), line.size(), securityStepMilliseconds() / 1000 + 1) ==
        static_cast<ssize_t>(line.size()))
        return true;
    detail = "could not send " + line.substr(0, line.size() - 2);
    return false;
}

// Reads one reply within the step's limit; 0 or the code for the failure.
int readStep(ReplyReader& replies, std::string& reply, int& code, int milliseconds, const char* what,
             std::string& detail)
{
    if (replies.read(reply, code, milliseconds))
        return 0;
    if (replies.timedOut()) {
        detail = std::string("no ") + what + " within " + std::to_string(milliseconds / 1000) +
                 " s (a server on port 465 usually needs Security tls)";
        return ERR_TLS_NO_ANSWER;
    }
    detail = std::string("the connection broke while waiting for the ") + what;
    return ERR_SERVER_RECV;
}

// Anything the server sent after its 220 and before our handshake.
int checkNothingMore(Socket& socket, ReplyReader& replies, std::string& detail)
{
    if (replies.hasPending()) {
        detail = "bytes after the reply to STARTTLS";
        return ERR_TLS_INJECTION;
    }
    char byte = 0;
    const ssize_t n = ::recv(socket.getHandle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        detail = "bytes after the reply to STARTTLS";
        return ERR_TLS_INJECTION;
    }
    if (n == 0) {
        detail = "the server closed the connection after the reply to STARTTLS";
        return ERR_SERVER_RECV;
    }
    return 0;
}

} // namespace

std::string upgradeEhloName(std::string_view clientLine)
{
    CommandLine command;
    if (parseCommandLine(clientLine, command) &&
        (equalsIgnoringCase(command.verb, "EHLO") || equalsIgnoringCase(command.verb, "HELO"))) {
        std::string_view name = trimView(command.argument);
        name = name.substr(0, name.find(' '));
        const bool printable = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
            return static_cast<unsigned char>(c) > 32 && static_cast<unsigned char>(c) < 127;
        });
        if (printable)
            return std::string(name);
    }
    return "localhost";
}

std::string tlsRefusalReply(int code)
{
    std::string_view reason = relayErrorText(code);
    if (reason.starts_with("Error:"))
        reason.remove_prefix(6);
    return proxyReply(ProxyReply::SecureConnectionFailed, reason);
}

TlsOptions tlsOptions(const ServerSecurity& security)
{
    TlsOptions options;
    options.caFile = security.caFile;
    options.verify = security.verify;
    return options;
}

int beginTls(Socket& socket, const std::string& host, const ServerSecurity& security, int stepMilliseconds,
             std::unique_ptr<TlsTransport>& tls, std::string& detail)
{
    int code = 0;
    tls = TlsTransport::start(socket, host, tlsOptions(security), stepMilliseconds, code, detail);
    return tls ? 0 : code;
}

int startTlsUpgrade(Socket& socket, ReplyReader& replies, const std::string& host, std::string_view ehloName,
                    const ServerSecurity& security, int stepMilliseconds, std::unique_ptr<TlsTransport>& tls,
                    std::string& detail)
{
    std::string reply;
    int code = 0;
    if (!sendLine(socket, "EHLO " + std::string(ehloName) + "\r\n", detail))
        return ERR_SERVER_SEND;
    if (const int failure = readStep(replies, reply, code, stepMilliseconds, "reply to EHLO", detail))
        return failure;
    if (code != 250 || !ehloOffers(reply, "STARTTLS")) {
        detail = "EHLO reply without STARTTLS: " + reply;
        return ERR_TLS_NOT_OFFERED;
    }
    if (replies.hasPending()) {
        detail = "bytes after the reply to EHLO";
        return ERR_TLS_INJECTION;
    }
    if (!sendLine(socket, "STARTTLS\r\n", detail))
        return ERR_SERVER_SEND;
    if (const int failure = readStep(replies, reply, code, stepMilliseconds, "reply to STARTTLS", detail))
        return failure;
    if (code != 220) {
        detail = "reply to STARTTLS: " + reply;
        return ERR_TLS_REFUSED;
    }
    if (const int failure = checkNothingMore(socket, replies, detail))
        return failure;
    if (const int failure = beginTls(socket, host, security, stepMilliseconds, tls, detail))
        return failure;
    replies.use(*tls);
    return 0;
}

SecureConnection::~SecureConnection() { close(); }

void SecureConnection::close()
{
    if (tls_)
        tls_->close(CloseNotifyMilliseconds);
    socket_.close();
}

std::unique_ptr<SecureConnection> connectSecurely(const std::string& host, std::uint16_t port,
                                                  const ServerSecurity& security, int stepMilliseconds)
{
    auto connection = std::make_unique<SecureConnection>();
    SecureConnection& c = *connection;
    if (security.mode == SecurityMode::Unknown) {
        c.error = ERR_TLS_SECURITY_SETTING;
        c.detail = "Security=" + security.setting;
        return connection;
    }
    const ConnectResult connected = connectToServer(host, port, stepMilliseconds);
    if (connected.descriptor < 0) {
        c.error = connected.error;
        return connection;
    }
    c.socket_.attach(connected.descriptor);
    if (security.mode == SecurityMode::Tls) {
        c.error = beginTls(c.socket_, host, security, stepMilliseconds, c.tls_, c.detail);
        if (c.tls_)
            c.replies_.use(*c.tls_);
    }
    if (c.error == 0) {
        c.error = readStep(c.replies_, c.greeting, c.greetingCode, stepMilliseconds, "greeting", c.detail);
        if (c.error == ERR_TLS_NO_ANSWER && security.mode == SecurityMode::None)
            c.error = ERR_SERVER_RECV;
    }
    if (c.error == 0 && security.mode == SecurityMode::StartTls) {
        if (c.greetingCode != 220) {
            c.error = c.greetingCode != 0 ? c.greetingCode : ERR_SERVER_RECV;
            c.detail = "greeting: " + c.greeting;
        } else {
            c.error = startTlsUpgrade(c.socket_, c.replies_, host, "localhost", security, stepMilliseconds, c.tls_,
                                      c.detail);
        }
    }
    if (c.error != 0) {
        c.close();
        return connection;
    }
    if (c.tls_) {
        c.encrypted = true;
        c.peer = c.tls_->peer();
    }
    return connection;
}

} // namespace MAIL
