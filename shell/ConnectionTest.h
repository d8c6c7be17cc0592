// ConnectionTest: talks to the configured SMTP server the way a session
// would (greeting, "EHLO localhost", "QUIT") and says whether it answered
// as a working server does, with the texts the user is shown.
//
// The server is reached through the relay's own connect-and-secure step
// (its resolver, an IPv4 literal used as it is, then by the Security mode
// the TLS handshake before the greeting, the STARTTLS upgrade after it, or
// neither), and every answer is read as a whole reply, so a multi-line
// greeting or a reply split over several segments is judged as the relay
// judges it: the greeting must carry code 220, the EHLO reply (over TLS
// when the mode asks for it) must arrive whole, the reply to QUIT must
// carry 221. Each step has its own limit, so a server that stays silent
// (STARTTLS against an implicit-TLS port) fails in time. run() blocks for
// up to the limits and must not be called on a GUI thread.
//
// canReachNetwork() is the check made before a test: it refuses only when
// the machine has no up, non-loopback interface and the server is not a
// loopback address, since a loopback server needs no network.
#pragma once

#include "relay/ServerSecurity.h"
#include "relay/TlsTransport.h"
#include "shell/NetworkInterfaces.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace MAIL {

class SecureConnection;

class ConnectionTest {
public:
    // How a test ended.
    enum class Outcome {
        Passed,     // every answer was as expected
        NoAddress,  // the name could not be resolved
        NoConnect,  // no address accepted the connection
        BadReply,   // an answer was missing, cut off or had another code
        NotSecured, // the encrypted connection could not be made (error says why)
    };

    struct Result {
        Outcome outcome = Outcome::BadReply;
        int error = 0;          // the relay's code for a failed connection, or 0
        std::string detail;     // why, for the log (a reply, OpenSSL's reason)
        std::string greeting;   // the whole greeting as received
        std::string quitReply;  // the whole reply to QUIT as received
        bool encrypted = false; // EHLO and QUIT went over TLS
        TlsPeerInfo peer;       // when encrypted: protocol, subject, issuer
        bool passed() const { return outcome == Outcome::Passed; }
    };

    struct Limits {
        // Every step: connect, handshake, greeting, the upgrade's replies,
        // the replies to EHLO and QUIT.
        int stepMilliseconds = 30 * 1000;
        int sendSeconds = 30;
    };

    // The server name is trimmed; port 0 or an empty name fails at once.
    // Without security the connection is plain SMTP.
    ConnectionTest(std::string_view server, std::uint16_t port, ServerSecurity security = {});
    ConnectionTest(std::string_view server, std::uint16_t port, ServerSecurity security, Limits limits);

    // Runs the whole exchange; blocking.
    Result run() const;

    const std::string& server() const { return server_; }
    std::uint16_t port() const { return port_; }
    const ServerSecurity& security() const { return security_; }

    // The title and texts the user is shown.
    static constexpr const char* NotConnectedTitle = "SMTP server connection test - Pelorus";
    static constexpr const char* NotConnectedText = "Error. Currently, this PC is not connected to the Internet!";
    static constexpr const char* FailedText =
        "Failed to connect to the SMTP server.\r\nPlease confirm the setting for the SMTP server.";
    // The information text for a test that passed: the server, the whole
    // greeting and the reply to QUIT; for an encrypted connection also the
    // protocol and the certificate's subject and issuer, and a line saying
    // so when the certificate was not verified.
    std::string successText(const Result& result) const;
    // The error text for a test that failed: FailedText, followed by the
    // reason from the relay's error table when the mode is not plain SMTP or
    // the encrypted connection could not be made.
    std::string failureText(const Result& result) const;
    static constexpr const char* VerificationOffText = "Certificate verification is off";

    // False only when no up, non-loopback interface exists (or the list
    // cannot be had) and the server is not a loopback address.
    static bool canReachNetwork(std::string_view server, NetworkInterfaces& interfaces);

private:
    // Connects and secures as the mode says, reads the greeting and says
    // EHLO: the steps that open every test.
    Outcome openSession(std::unique_ptr<SecureConnection>& connection, Result& result) const;

    std::string server_;
    std::uint16_t port_;
    ServerSecurity security_;
    Limits limits_;
};

} // namespace MAIL
