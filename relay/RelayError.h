// The relay's error codes and the texts the user is shown for them.
//
// Failures inside the relay are thrown as bare integers: negative values are
// the relay's own codes below, positive values are SMTP reply codes a server
// gave where another was expected. relayErrorText() gives the text for a code,
// or an empty text (never shown) for a code that has none.
#pragma once

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

} // namespace MAIL
