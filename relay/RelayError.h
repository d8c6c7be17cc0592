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
};

// The reply code that ends a session.
inline constexpr int SESSION_END = 221;

// The text for a relay code; "" for any other code.
const char* relayErrorText(int code);

} // namespace MAIL
