// ProxyReply: every reply the proxy writes to the mail client itself.
//
// One table holds them all, each reply a named constant: a code, the
// enhanced status code (RFC 3463) where the reply has one ("" where it has
// always been sent without), and the text. Sessions name a reply; none
// spells one out, so a reply reads the same wherever it is given. Replies
// that relay the server's own words are not here: the server's text goes to
// the client as the server sent it.
#pragma once

#include <string>
#include <string_view>

namespace MAIL {

struct ReplyText {
    const char* code;
    const char* status;
    const char* text;
};

namespace ProxyReply {
// clang-format off
inline constexpr ReplyText DataGoAhead{"354", "", "Ok Send data ending with <CRLF>.<CRLF>"};
// The user (or the countdown) cancelled the mail.
inline constexpr ReplyText Cancelled{"450", "", "Pelorus action has been cancelled."};
// QUIT before the server connection was secured.
inline constexpr ReplyText ClosingBeforeServer{"221", "2.0.0", "Pelorus closes the connection."};
// A line outside the command grammar.
inline constexpr ReplyText Unrecognized{"500", "5.5.2", "Syntax error, command unrecognized"};
inline constexpr ReplyText LineTooLong{"500", "5.5.2", "Line too long"};
// MAIL without FROM:, RCPT without TO:, DATA with an argument.
inline constexpr ReplyText SyntaxError{"501", "5.5.4", "Syntax error in parameters"};
// A verb the proxy does not know.
inline constexpr ReplyText NotRelayed{"502", "5.5.1", "Pelorus does not relay this command."};
inline constexpr ReplyText BdatRefused{"502", "5.5.1", "Pelorus does not accept BDAT: please send the mail with DATA."};
inline constexpr ReplyText BurlRefused{"502", "5.5.1", "Pelorus does not accept BURL: please send the mail with DATA."};
inline constexpr ReplyText StartTlsRefused{"502", "5.5.1", "Pelorus does not offer STARTTLS to the mail client."};
// DATA with no mail or no accepted recipient.
inline constexpr ReplyText NoValidRecipients{"554", "5.5.1", "Pelorus: no valid recipients."};
inline constexpr ReplyText TooManyRefused{"421", "4.7.0", "Pelorus closes the connection: too many unrecognized commands."};
inline constexpr ReplyText ClientIdle{"421", "4.4.2", "Pelorus closes the connection: the mail client was idle for too long."};
// The server connection is gone between mails.
inline constexpr ReplyText LostServer{"421", "4.4.2", "Pelorus lost the connection to the SMTP server."};
// The server connection was lost while the mail waited for its decision.
inline constexpr ReplyText LostServerWhileWaiting{"451", "4.4.2", "Pelorus lost the connection to the SMTP server."};
inline constexpr ReplyText LostServerWhileSending{"451", "4.4.2", "Pelorus lost the SMTP server while sending this mail."};
// A 354 to something that was not our DATA.
inline constexpr ReplyText UnexpectedServerReply{"451", "4.3.0", "Pelorus: unexpected reply from the SMTP server."};
inline constexpr ReplyText CannotStore{"451", "4.3.0", "Pelorus could not store this mail."};
inline constexpr ReplyText BareLineEnd{"554", "5.6.0", "Pelorus refused this mail: bare CR or LF in its data."};
// A client of another account.
inline constexpr ReplyText ForeignClient{"554", "5.7.1", "Pelorus serves only the user who started it."};
// With the reason as its text.
inline constexpr ReplyText SecureConnectionFailed{"421", "4.7.0", "Pelorus cannot make an encrypted connection to the SMTP server."};
// Our own bug: the mail is not sent.
inline constexpr ReplyText InternalError{"451", "4.3.0", "Pelorus failed inside; this mail was not sent."};
// clang-format on
} // namespace ProxyReply

// The reply line, CR LF included. A detail, when given, replaces the
// table's text (the reason of a failed encrypted connection).
std::string proxyReply(const ReplyText& reply, std::string_view detail = {});

} // namespace MAIL
