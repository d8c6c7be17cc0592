// The session's command stage: each client line is one command, found by
// its verb (the first word, without regard to case) in a table that gives
// the command's action. Commands the table does not know are relayed to the
// server and their replies relayed back.
#include "relay/SMTPCommunicator.h"

#include "config/LogWriter.h"
#include "foundation/String.h"
#include "policy/TrustedDomain.h"
#include "relay/Addresses.h"
#include "relay/Notifications.h"
#include "relay/RelayError.h"
#include "relay/SessionText.h"

#include <algorithm>
#include <cctype>
#include <charconv>

using namespace MAIL;

struct SMTPCommunicator::Command {
    const char* verb;
    void (SMTPCommunicator::*action)(const std::string& line, std::string_view argument);
};

// BDAT and BURL data, and a TLS session, cannot be inspected: the proxy
// removes them from the EHLO reply and refuses them here.
const SMTPCommunicator::Command SMTPCommunicator::Commands[] = {
    {"MAIL", &SMTPCommunicator::handleMail},
    {"RCPT", &SMTPCommunicator::handleRcpt},
    {"DATA", &SMTPCommunicator::handleData},
    {"BDAT", &SMTPCommunicator::handleBdat},
    {"BURL", &SMTPCommunicator::refuseBurl},
    {"STARTTLS", &SMTPCommunicator::refuseStartTls},
    {"AUTH", &SMTPCommunicator::handleAuth},
    {"EHLO", &SMTPCommunicator::handleEhlo},
    {"RSET", &SMTPCommunicator::handleRset},
};

namespace {

constexpr const char* SyntaxError = "501 5.5.4 Syntax error in parameters\r\n";

// The line without its line end.
std::string_view withoutLineEnd(std::string_view line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

// "FROM:" or "TO:" (any case, blanks allowed around the colon) at the start
// of the argument; the rest after the colon, or nothing.
bool takeKeyword(std::string_view argument, std::string_view keyword, std::string_view& rest)
{
    argument = trimView(argument);
    if (argument.size() < keyword.size() || !equalsIgnoringCase(argument.substr(0, keyword.size()), keyword))
        return false;
    argument.remove_prefix(keyword.size());
    while (!argument.empty() && (argument.front() == ' ' || argument.front() == '\t'))
        argument.remove_prefix(1);
    if (argument.empty() || argument.front() != ':')
        return false;
    rest = trimView(argument.substr(1));
    return true;
}

bool is2xx(int code) { return code >= 200 && code < 300; }

} // namespace

void SMTPCommunicator::handleLine(const std::string& line)
{
    if (authResponsePending_) {
        // The line after a 334 answers the challenge: relayed as it is,
        // never read as a command.
        authResponsePending_ = false;
        trace(getLogWriter(), "SMTPCommunicator#run,4,RECV from Client=[%s]", "***");
        std::string reply;
        const int code = exchange(line, reply, true);
        deliverReply(reply, code);
        authResponsePending_ = code == 334;
        return;
    }
    // A CR anywhere but before the LF could hide a second command from a
    // server that reads lines differently.
    const std::size_t cr = line.find('\r');
    if (cr != std::string::npos && cr + 2 != line.size()) {
        sendToClient("500 5.5.2 Bare CR not allowed\r\n");
        return;
    }
    const std::string_view text = withoutLineEnd(line);
    if (upgradePending_) {
        // STARTTLS mode: nothing of the client's reaches the server before
        // the connection is encrypted, and a client that leaves at once
        // needs no server at all.
        const std::string_view first = text.substr(0, std::min(text.find_first_of(" \t"), text.size()));
        if (equalsIgnoringCase(first, "QUIT")) {
            sendToClient("221 2.0.0 Pelorus closes the connection.\r\n");
            endSession_ = true;
            return;
        }
        upgradeServer(line);
    }
    const std::size_t verbEnd = std::min(text.find_first_of(" \t"), text.size());
    const std::string_view verb = text.substr(0, verbEnd);
    const std::string_view argument = text.substr(verbEnd);
    const bool secret = equalsIgnoringCase(verb, "AUTH");
    trace(getLogWriter(), "SMTPCommunicator#run,4,RECV from Client=[%s]",
          secret ? "AUTH ***" : std::string(text).c_str());
    trace(getLogWriter(), "SMTPCommunicator#run,5,STAGE=%d,start %s", stage_,
          secret ? "AUTH ***" : std::string(text).c_str());
    for (const Command& command : Commands) {
        if (equalsIgnoringCase(verb, command.verb)) {
            (this->*command.action)(line, argument);
            return;
        }
    }
    relayPlain(line, argument);
}

int SMTPCommunicator::exchange(const std::string& line, std::string& reply, bool secret)
{
    // Credentials never reach the log.
    debug(getLogWriter(), "SMTPCommunicator#run,12,SendAll=[%s]", secret ? "***" : line.c_str());
    sendToServer(line);
    int code = 0;
    if (!serverReplies_.read(reply, code, ReplyMilliseconds)) {
        debug(getLogWriter(), "SMTPCommunicator#fromServerToClient,2,failed to recv from a server");
        throw static_cast<int>(ERR_SERVER_RECV);
    }
    debug(getLogWriter(), "SMTPCommunicator#fromServerToClient,3,recv=[%s]", reply.c_str());
    return code;
}

void SMTPCommunicator::deliverReply(const std::string& reply, int code)
{
    if (code == 354) {
        // Only our own DATA may open the data stage on the server: data must
        // never reach it unseen.
        error(getLogWriter(), "SMTPCommunicator#run,13,failed to mailserver code=[%d]", code);
        closeServer();
        sendToClient("451 4.3.0 Pelorus: unexpected reply from the SMTP server.\r\n");
        endSession_ = true;
        return;
    }
    sendToClient(reply);
    if (code == SESSION_END || code == 421) {
        debug(getLogWriter(), "SMTPCommunicator#run,14,Session ends with code=[%d]", code);
        endSession_ = true;
    }
}

void SMTPCommunicator::relayPlain(const std::string& line, std::string_view /*argument*/)
{
    std::string reply;
    const int code = exchange(line, reply, false);
    deliverReply(reply, code);
}

void SMTPCommunicator::handleMail(const std::string& line, std::string_view argument)
{
    std::string_view from;
    if (!takeKeyword(argument, "FROM", from)) {
        sendToClient(SyntaxError);
        return;
    }
    std::string reply;
    const int code = exchange(line, reply, false);
    if (is2xx(code)) {
        // A new mail begins only once the server has taken it on; a refused
        // MAIL leaves the recipients the server still holds.
        if (stage_ == 2)
            debug(getLogWriter(), "SMTPCommunicator#run,11,Started new session =[%s]", line.c_str());
        else
            debug(getLogWriter(), "SMTPCommunicator#run,6,Started new session From=[%s]", line.c_str());
        sender_ = cutUtf8(from, 255);
        stage_ = 0;
        initialize();
        ++mailCounter_;
    }
    deliverReply(reply, code);
}

void SMTPCommunicator::handleRcpt(const std::string& line, std::string_view argument)
{
    std::string_view to;
    if (!takeKeyword(argument, "TO", to)) {
        sendToClient(SyntaxError);
        return;
    }
    std::string reply;
    const int code = exchange(line, reply, false);
    // A refused recipient will not receive the mail and is not shown as one.
    if (is2xx(code))
        takeInRecipient(to);
    deliverReply(reply, code);
}

void SMTPCommunicator::takeInRecipient(std::string_view argument)
{
    const std::string entry(argument.substr(0, 1023));
    const std::string address = envelopeAddress(entry);
    allRecipients_.add(new String(entry.c_str()));
    envelopeAddresses_.push_back(address);
    trace(getLogWriter(), "SMTPCommunicator#run,7,stage=%d RCPT_TO =[%s] TRIMMED=[%s]", stage_, entry.c_str(),
          address.c_str());
    if (!trustedRecipients_.isTrustedRecipient(address.c_str()))
        ++untrustedCount_;
    if (!trustedDomains_.isAllowedDomain(address.c_str())) {
        debug(getLogWriter(), "SMTPCommunicator#run,8,Found an invalid receiver[%s]", entry.c_str());
        invalidRecipients_.add(new String(entry.c_str()));
        invalidRecipient_ = 1;
    }
}

void SMTPCommunicator::handleData(const std::string& line, std::string_view argument)
{
    if (!trimView(argument).empty()) {
        relayPlain(line, argument);  // not our DATA: the server answers it
        return;
    }
    debug(getLogWriter(), "SMTPCommunicator#run,10,Data command=[%s]", line.c_str());
    if (!mailStarted_)
        initialize();  // DATA without an accepted MAIL still gets a spool file
    sendToClient(DataReply);
    scanner_ = DataScanner();
    stage_ = 1;
}

void SMTPCommunicator::handleBdat(const std::string& /*line*/, std::string_view argument)
{
    sendToClient("502 5.5.1 Pelorus does not accept BDAT: please send the mail with DATA.\r\n");
    // The octets announced follow the command; they must not be read as
    // commands. Without a readable count the stream cannot be followed.
    const std::string_view size = trimView(argument).substr(0, trimView(argument).find_first_of(" \t"));
    std::uint64_t count = 0;
    const auto [end, ec] = std::from_chars(size.data(), size.data() + size.size(), count);
    if (size.empty() || ec != std::errc() || end != size.data() + size.size()) {
        endSession_ = true;
        return;
    }
    if (clientReader_.discard(count, ClientIdleMilliseconds) != ClientReader::Status::Ok)
        endSession_ = true;
}

void SMTPCommunicator::refuseBurl(const std::string& /*line*/, std::string_view /*argument*/)
{
    sendToClient("502 5.5.1 Pelorus does not accept BURL: please send the mail with DATA.\r\n");
}

void SMTPCommunicator::refuseStartTls(const std::string& /*line*/, std::string_view /*argument*/)
{
    sendToClient("502 5.5.1 Pelorus does not offer STARTTLS to the mail client.\r\n");
}

void SMTPCommunicator::handleAuth(const std::string& line, std::string_view /*argument*/)
{
    std::string reply;
    const int code = exchange(line, reply, true);
    deliverReply(reply, code);
    authResponsePending_ = code == 334;
}

void SMTPCommunicator::handleRset(const std::string& line, std::string_view /*argument*/)
{
    std::string reply;
    const int code = exchange(line, reply, false);
    // The server forgot the envelope; so do we.
    if (is2xx(code))
        forgetMail();
    deliverReply(reply, code);
}

void SMTPCommunicator::handleEhlo(const std::string& line, std::string_view /*argument*/)
{
    std::string reply;
    const int code = exchange(line, reply, false);
    deliverReply(is2xx(code) ? filterEhloReply(reply) : reply, code);
}
