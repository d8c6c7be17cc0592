#include "shell/ConnectionTest.h"

#include "config/LogWriter.h"
#include "foundation/String.h"
#include "relay/RelayError.h"
#include "relay/ReplyReader.h"
#include "relay/ServerConnection.h"
#include "relay/Socket.h"
#include "shell/SettingsValidation.h"

#include <strings.h>

namespace MAIL {

namespace {

constexpr std::string_view Hello = "EHLO localhost\r\n";
constexpr std::string_view Quit = "QUIT\r\n";

bool sendLine(Socket& socket, std::string_view line, int seconds)
{
    return socket.sendAll(line.data(), line.size(), seconds) == static_cast<ssize_t>(line.size());
}

// A reply without its last line end, for showing.
std::string withoutLastLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace

ConnectionTest::ConnectionTest(std::string_view server, std::uint16_t port) : ConnectionTest(server, port, Limits{}) {}

ConnectionTest::ConnectionTest(std::string_view server, std::uint16_t port, Limits limits)
    : server_(trimView(server)), port_(port), limits_(limits)
{
}

ConnectionTest::Outcome ConnectionTest::openSession(Socket& socket, ReplyReader& reader, Result& result) const
{
    const ConnectResult connection = connectToServer(server_, port_, limits_.connectMilliseconds);
    if (connection.descriptor < 0) {
        if (connection.error == ERR_HOST_LOOKUP) {
            error(getLogWriter(), "SMTPCommunicator#run,2,Failed to get an address for SMTPServer =[%s]\n",
                  server_.c_str());
            return Outcome::NoAddress;
        }
        error(getLogWriter(), "SMTPCommunicator#run,3,Failed to connect a SMTPServer Port=[%d]", port_);
        return Outcome::NoConnect;
    }
    socket.attach(connection.descriptor);
    int code = 0;
    if (!reader.read(result.greeting, code, limits_.replyMilliseconds) || code != 220)
        return Outcome::BadReply;
    std::string hello;
    if (!sendLine(socket, Hello, limits_.sendSeconds) || !reader.read(hello, code, limits_.replyMilliseconds))
        return Outcome::BadReply;
    return Outcome::Passed;
}

ConnectionTest::Result ConnectionTest::run() const
{
    Result result;
    if (server_.empty() || port_ == 0)
        return result;
    Socket socket;
    ReplyReader reader(socket);
    result.outcome = openSession(socket, reader, result);
    if (result.outcome != Outcome::Passed)
        return result;
    int code = 0;
    if (!sendLine(socket, Quit, limits_.sendSeconds) ||
        !reader.read(result.quitReply, code, limits_.replyMilliseconds) || code != 221)
        result.outcome = Outcome::BadReply;
    return result;
}

std::string ConnectionTest::successText(const Result& result) const
{
    return "Connected to the SMTP server '" + server_ + "' (without account authentication).\r\n\r\n" +
           withoutLastLineEnd(result.greeting) + "\r\n" + withoutLastLineEnd(result.quitReply);
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
