// SecureConnection: the steps that put TLS on a connection to the SMTP
// server, shared by the sessions and the connection test.
//
// startTlsUpgrade() is the proxy's STARTTLS: its own "EHLO <name>", a reply
// that has a line with the keyword STARTTLS, "STARTTLS", the reply 220, no
// byte from the server after that 220 (anything there would be read as if
// it came through TLS), then the handshake. beginTls() is the handshake
// alone ("tls" mode, before the greeting). Each step has the given limit.
// Both answer 0, or a relay code (ERR_TLS_*, or ERR_SERVER_SEND/RECV for a
// connection that broke) with the detail for the log: the server's reply or
// OpenSSL's reason.
//
// connectSecurely() does what the connection test needs in one call:
// connect, then by mode the handshake and the greeting ("tls"), the greeting
// and the upgrade ("starttls"), or the greeting alone ("none"). The result
// holds the open connection, ready for the next command over
// transport()/replies(), with the certificate's details. It blocks for up to
// a step limit per step and must not run on a GUI thread.
#pragma once

#include "relay/ReplyReader.h"
#include "relay/ServerConnection.h"
#include "relay/ServerSecurity.h"
#include "relay/Socket.h"
#include "relay/TlsTransport.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace MAIL {

// The EHLO name the proxy uses before a client command: the argument of the
// client's EHLO or HELO, else "localhost".
std::string upgradeEhloName(std::string_view clientLine);

// The reply a client gets when the encrypted connection cannot be made:
// "421 4.7.0 <reason>\r\n".
std::string tlsRefusalReply(int code);

TlsOptions tlsOptions(const ServerSecurity& security);

int startTlsUpgrade(Socket& socket, ReplyReader& replies, const std::string& host, std::string_view ehloName,
                    const ServerSecurity& security, int stepMilliseconds, std::unique_ptr<TlsTransport>& tls,
                    std::string& detail);

int beginTls(Socket& socket, const std::string& host, const ServerSecurity& security, int stepMilliseconds,
             std::unique_ptr<TlsTransport>& tls, std::string& detail);

class SecureConnection;

// Connects and secures as the settings say, every step within the limit;
// never null. On failure error is set and the connection is closed.
std::unique_ptr<SecureConnection> connectSecurely(const std::string& host, std::uint16_t port,
                                                  const ServerSecurity& security,
                                                  int stepMilliseconds = securityStepMilliseconds());

// One connection to the server, plain or encrypted, as connectSecurely()
// leaves it.
class SecureConnection {
public:
    SecureConnection() = default;
    SecureConnection(const SecureConnection&) = delete;
    SecureConnection& operator=(const SecureConnection&) = delete;
    ~SecureConnection();

    int error = 0;            // 0, or ERR_HOST_LOOKUP, ERR_SERVER_CONNECT, ERR_SERVER_RECV, ERR_TLS_*
    std::string detail;       // why, for the log (a reply, OpenSSL's reason)
    std::string greeting;     // the server's whole greeting as received
    int greetingCode = 0;     // its code (220 for a ready server)
    bool encrypted = false;   // TLS is up
    TlsPeerInfo peer;         // when encrypted: protocol, subject, issuer

    // Where the next command goes and its reply comes from.
    Transport& transport() { return tls_ ? static_cast<Transport&>(*tls_) : socket_; }
    ReplyReader& replies() { return replies_; }
    // Sends close_notify when encrypted, then closes.
    void close();

private:
    friend std::unique_ptr<SecureConnection> connectSecurely(const std::string&, std::uint16_t,
                                                             const ServerSecurity&, int);
    Socket socket_;
    std::unique_ptr<TlsTransport> tls_;
    ReplyReader replies_{socket_};
};

} // namespace MAIL
