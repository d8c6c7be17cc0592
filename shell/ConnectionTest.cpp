#include "shell/ConnectionTest.h"

#include "config/LogWriter.h"
#include "foundation/String.h"
#include "relay/RelayError.h"
#include "relay/ReplyReader.h"
#include "relay/SecureConnection.h"
#include "relay/ServerConnection.h"
#include "shell/SettingsValidation.h"

#include <strings.h>

namespace MAIL {

namespace {

constexpr std::string_view Hello = "EHLO localhost\r\n";
constexpr std::string_view Quit = "QUIT\r\n";

bool sendLine(Transport& transport, std::string_view line, int seconds)
{
    return transport.sendAll(line.data(), line.size(), seconds) == static_cast<ssize_t>(line.size());
}

// A reply without its last line end, for showing.
std::string withoutLastLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// A text from the server or OpenSSL on one log line.
std::string oneLine(std::string text)
{
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

} // namespace

ConnectionTest::ConnectionTest(std::string_view server, std::uint16_t port, ServerSecurity security)
    : ConnectionTest(server, port, std::move(security), Limits{})
{
}

ConnectionTest::ConnectionTest(std::string_view server, std::uint16_t port, ServerSecurity security, Limits limits)
    : server_(trimView(server)), port_(port), security_(std::move(security)), limits_(limits)
{
}

ConnectionTest::Outcome ConnectionTest::openSession(std::unique_ptr<SecureConnection>& connection,
                                                    Result& result) const
{
    connection = connectSecurely(server_, port_, security_, limits_.stepMilliseconds);
    SecureConnection& c = *connection;
    result.error = c.error;
    result.detail = c.detail;
    result.greeting = c.greeting;
    if (c.error == ERR_HOST_LOOKUP) {
        error(getLogWriter(), "SMTPCommunicator#run,2,Failed to get an address for SMTPServer =[%s]\n",
              server_.c_str());
        return Outcome::NoAddress;
    }
    if (c.error == ERR_SERVER_CONNECT) {
        error(getLogWriter(), "SMTPCommunicator#run,3,Failed to connect a SMTPServer Port=[%d]", port_);
        return Outcome::NoConnect;
    }
    if (c.error != 0) {
        error(getLogWriter(), "ConnectionTest#run,4,No %s connection to SMTPServer =[%s] Port=[%d]: %s\n",
              securityModeName(security_.mode), server_.c_str(), port_, oneLine(c.detail).c_str());
        return isTlsError(c.error) ? Outcome::NotSecured : Outcome::BadReply;
    }
    if (c.greetingCode != 220)
        return Outcome::BadReply;
    result.encrypted = c.encrypted;
    result.peer = c.peer;
    std::string hello;
    int code = 0;
    if (!sendLine(c.transport(), Hello, limits_.sendSeconds) ||
        !c.replies().read(hello, code, limits_.stepMilliseconds))
        return Outcome::BadReply;
    return Outcome::Passed;
}

ConnectionTest::Result ConnectionTest::run() const
{
    Result result;
    if (server_.empty() || port_ == 0)
        return result;
    std::unique_ptr<SecureConnection> connection;
    result.outcome = openSession(connection, result);
    if (result.outcome != Outcome::Passed)
        return result;
    int code = 0;
    if (!sendLine(connection->transport(), Quit, limits_.sendSeconds) ||
        !connection->replies().read(result.quitReply, code, limits_.stepMilliseconds) || code != 221)
        result.outcome = Outcome::BadReply;
    connection->close();
    return result;
}

std::string ConnectionTest::successText(const Result& result) const
{
    std::string text = "Connected to the SMTP server '" + server_ + "' (without account authentication).\r\n\r\n" +
                       withoutLastLineEnd(result.greeting) + "\r\n" + withoutLastLineEnd(result.quitReply);
    if (result.encrypted) {
        text += "\r\n\r\nTLS: " + result.peer.protocol + "\r\nSubject: " + result.peer.subject +
                "\r\nIssuer: " + result.peer.issuer;
        if (!security_.verify)
            text += "\r\n" + std::string(VerificationOffText);
    }
    return text;
}

std::string ConnectionTest::failureText(const Result& result) const
{
    std::string text = FailedText;
    const std::string reason = relayErrorText(result.error);
    if (!reason.empty() && (security_.mode != SecurityMode::None || isTlsError(result.error)))
        text += "\r\n\r\n" + reason;
    return text;
}

bool ConnectionTest::canReachNetwork(std::string_view server, NetworkInterfaces& interfaces)
{
    const std::string_view name = trimView(server);
    if (isLoopbackAddress(name) || (name.size() == 9 && ::strncasecmp(name.data(), "localhost", 9) == 0))
        return true;
    try {
        return interfaces.refresh() > 0;
    } catch (int) {
        return false;  // the interface list cannot be had
    }
}

} // namespace MAIL
