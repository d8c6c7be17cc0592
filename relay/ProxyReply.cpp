#include "relay/ProxyReply.h"

#include <array>

namespace MAIL {

namespace {

struct ReplyRow {
    ProxyReply reply;
    const char* code;
    const char* status;  // "" where the reply has always been sent without one
    const char* text;
};

constexpr std::array<ReplyRow, 21> Replies{{
    {ProxyReply::DataGoAhead, "354", "", "Ok Send data ending with <CRLF>.<CRLF>"},
    {ProxyReply::Cancelled, "450", "", "Pelorus action has been cancelled."},
    {ProxyReply::ClosingBeforeServer, "221", "2.0.0", "Pelorus closes the connection."},
    {ProxyReply::Unrecognized, "500", "5.5.2", "Syntax error, command unrecognized"},
    {ProxyReply::LineTooLong, "500", "5.5.2", "Line too long"},
    {ProxyReply::SyntaxError, "501", "5.5.4", "Syntax error in parameters"},
    {ProxyReply::NotRelayed, "502", "5.5.1", "Pelorus does not relay this command."},
    {ProxyReply::BdatRefused, "502", "5.5.1", "Pelorus does not accept BDAT: please send the mail with DATA."},
    {ProxyReply::BurlRefused, "502", "5.5.1", "Pelorus does not accept BURL: please send the mail with DATA."},
    {ProxyReply::StartTlsRefused, "502", "5.5.1", "Pelorus does not offer STARTTLS to the mail client."},
    {ProxyReply::NoValidRecipients, "554", "5.5.1", "Pelorus: no valid recipients."},
    {ProxyReply::TooManyRefused, "421", "4.7.0", "Pelorus closes the connection: too many unrecognized commands."},
    {ProxyReply::ClientIdle, "421", "4.4.2", "Pelorus closes the connection: the mail client was idle for too long."},
    {ProxyReply::LostServer, "421", "4.4.2", "Pelorus lost the connection to the SMTP server."},
    {ProxyReply::LostServerWhileSending, "451", "4.4.2", "Pelorus lost the SMTP server while sending this mail."},
    {ProxyReply::UnexpectedServerReply, "451", "4.3.0", "Pelorus: unexpected reply from the SMTP server."},
    {ProxyReply::CannotStore, "451", "4.3.0", "Pelorus could not store this mail."},
    {ProxyReply::BareLineEnd, "554", "5.6.0", "Pelorus refused this mail: bare CR or LF in its data."},
    {ProxyReply::ForeignClient, "554", "5.7.1", "Pelorus serves only the user who started it."},
    {ProxyReply::SecureConnectionFailed, "421", "4.7.0", "Pelorus cannot make an encrypted connection to the SMTP server."},
    {ProxyReply::InternalError, "451", "4.3.0", "Pelorus failed inside; this mail was not sent."},
}};

} // namespace

std::string proxyReply(ProxyReply reply, std::string_view detail)
{
    for (const ReplyRow& row : Replies) {
        if (row.reply != reply)
            continue;
        std::string line = row.code;
        line += ' ';
        if (row.status[0] != '\0') {
            line += row.status;
            line += ' ';
        }
        line += detail.empty() ? std::string_view(row.text) : detail;
        line += "\r\n";
        return line;
    }
    return "451 4.3.0 Pelorus failed inside; this mail was not sent.\r\n";  // unreachable: every reply has a row
}

} // namespace MAIL
