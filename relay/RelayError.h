// The relay's error codes, the texts the user is shown for them, and the
// one failure a session throws.
//
// A code is one of the relay's own below (negative), or an SMTP reply code
// a server gave where another was expected (positive). relayErrorText()
// gives the text for a code, or an empty text (never shown) for a code that
// has none. The listener, whose callers expect it, throws its codes bare.
//
// A session throws RelayFailure, which says whose fault the failure was:
// the client's (gone, or not taking its replies) or the server's (gone,
// refusing, out of step). A local failure (spool, disk) is no session
// failure: the one mail is refused and the session goes on. Whatever else
// reaches the top of a session is a bug of ours. A failure always ends the
// session; the session's top decides once, from the failure, what the user
// and the client are told.
#pragma once

#include <exception>

namespace MAIL {

enum RelayError : int {
    ERR_SOCKET = -1500,
    ERR_BIND = -1501,
    ERR_SETSOCKOPT = -1502,
    ERR_LISTEN = -1503,
    ERR_HOST_LOOKUP = -1504,
    ERR_SERVER_CONNECT = -1505,
    ERR_CLIENT_SEND = -1510,
    ERR_CLIENT_RECV = -1511,
    ERR_SERVER_SEND = -1512,
    ERR_SERVER_RECV = -1513,
    // Encrypted connections to the server (Security "starttls" or "tls").
    ERR_TLS_NOT_OFFERED = -1514,
    ERR_TLS_REFUSED = -1515,
    ERR_TLS_HANDSHAKE = -1516,
    ERR_TLS_UNTRUSTED = -1517,
    ERR_TLS_NAME_MISMATCH = -1518,
    ERR_TLS_INJECTION = -1519,
    ERR_TLS_SECURITY_SETTING = -1520,
    ERR_TLS_CA_FILE = -1521,
    ERR_TLS_NO_ANSWER = -1522,
};

// The reply code that ends a session.
inline constexpr int SESSION_END = 221;

// The text for a relay code; "" for any other code.
const char* relayErrorText(int code);

// True for the codes of a failed encrypted connection (ERR_TLS_*).
bool isTlsError(int code);

enum class FailureParty { Client, Server };

class RelayFailure : public std::exception {
public:
    RelayFailure(FailureParty party, int code) : party_(party), code_(code) {}
    FailureParty party() const { return party_; }
    int code() const { return code_; }
    const char* what() const noexcept override { return relayErrorText(code_); }

private:
    FailureParty party_;
    int code_;
};

[[noreturn]] inline void clientFailed(int code) { throw RelayFailure(FailureParty::Client, code); }
[[noreturn]] inline void serverFailed(int code) { throw RelayFailure(FailureParty::Server, code); }

} // namespace MAIL
