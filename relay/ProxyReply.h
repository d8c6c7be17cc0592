// ProxyReply: every reply the proxy writes to the mail client itself.
//
// One table holds them all: a code, the enhanced status code (RFC 3463)
// where the reply has one, and the text. Sessions name a reply; none spells
// one out, so a reply reads the same wherever it is given. Replies that
// relay the server's own words are not here: the server's text goes to the
// client as the server sent it.
#pragma once

#include <string>
#include <string_view>

namespace MAIL {

enum class ProxyReply {
    DataGoAhead,             // the proxy answers DATA itself
    Cancelled,               // the user (or the countdown) cancelled the mail
    ClosingBeforeServer,     // QUIT before the server connection was secured
    Unrecognized,            // a line outside the command grammar
    LineTooLong,
    SyntaxError,             // MAIL without FROM:, RCPT without TO:, DATA with an argument
    NotRelayed,              // a verb the proxy does not know
    BdatRefused,
    BurlRefused,
    StartTlsRefused,
    NoValidRecipients,       // DATA with no mail or no accepted recipient
    TooManyRefused,
    ClientIdle,
    LostServer,              // the server connection is gone between mails
    LostServerWhileSending,
    UnexpectedServerReply,   // a 354 to something that was not our DATA
    CannotStore,
    BareLineEnd,
    ForeignClient,           // a client of another account
    SecureConnectionFailed,  // with the reason as its text
    InternalError,           // our own bug: the mail is not sent
};

// The reply line, CR LF included. A detail, when given, replaces the
// table's text (the reason of a failed encrypted connection).
std::string proxyReply(ProxyReply reply, std::string_view detail = {});

} // namespace MAIL
