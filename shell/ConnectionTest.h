// ConnectionTest: talks to the configured SMTP server the way a session
// would (greeting, "EHLO localhost", "QUIT") and says whether it answered
// as a working server does, with the texts the user is shown.
//
// The server is reached with the relay's own resolver and connect (an IPv4
// literal is used as it is) and every answer is read as a whole reply, so a
// multi-line greeting or a reply split over several segments is judged as
// the relay judges it: the greeting must carry code 220, the EHLO reply must
// arrive whole, the reply to QUIT must carry 221. run() blocks for up to
// the time limits and must not be called on a GUI thread.
//
// canReachNetwork() is the check made before a test: it refuses only when
// the machine has no up, non-loopback interface and the server is not a
// loopback address, since a loopback server needs no network.
#pragma once

#include "shell/NetworkInterfaces.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace MAIL {

class ReplyReader;
class Socket;

class ConnectionTest {
public:
    // How a test ended.
    enum class Outcome {
        Passed,     // every answer was as expected
        NoAddress,  // the name could not be resolved
        NoConnect,  // no address accepted the connection
        BadReply,   // an answer was missing, cut off or had another code
    };

    struct Result {
        Outcome outcome = Outcome::BadReply;
        std::string greeting;   // the whole greeting as received
        std::string quitReply;  // the whole reply to QUIT as received
        bool passed() const { return outcome == Outcome::Passed; }
    };

    struct Limits {
        int connectMilliseconds = 30 * 1000;
        int replyMilliseconds = 30 * 1000;
        int sendSeconds = 30;
    };

    // The server name is trimmed; port 0 or an empty name fails at once.
    ConnectionTest(std::string_view server, std::uint16_t port);
    ConnectionTest(std::string_view server, std::uint16_t port, Limits limits);

    // Runs the whole exchange; blocking.
    Result run() const;

    const std::string& server() const { return server_; }
    std::uint16_t port() const { return port_; }

    // The title and texts the user is shown.
    static constexpr const char* NotConnectedTitle = "SMTP server connection test - Pelorus";
    static constexpr const char* NotConnectedText = "Error. Currently, this PC is not connected to the Internet!";
    static constexpr const char* FailedText =
        "Failed to connect to the SMTP server.\r\nPlease confirm the setting for the SMTP server.";
    // The information text for a test that passed: the server, the whole
    // greeting and the reply to QUIT.
    std::string successText(const Result& result) const;

    // False only when no up, non-loopback interface exists (or the list
    // cannot be had) and the server is not a loopback address.
    static bool canReachNetwork(std::string_view server, NetworkInterfaces& interfaces);

private:
    // Connects, reads the greeting and says EHLO: the steps that open every
    // test, kept together so a secured connection can be put in here.
    Outcome openSession(Socket& socket, ReplyReader& reader, Result& result) const;

    std::string server_;
    std::uint16_t port_;
    Limits limits_;
};

} // namespace MAIL
