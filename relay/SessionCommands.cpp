// The session's command stage. Each client line is read by one grammar
// (CommandGrammar.h); a line outside it is refused and never relayed. Each
// command is then found by its verb, without regard to case, in a table
// that gives its action. Only the verbs in the table reach the server: an
// extension the proxy does not understand could change the envelope behind
// its back, so every other verb is refused too. A client that keeps sending
// what the proxy refuses is sent away.
#include "relay/SMTPCommunicator.h"

#include "config/LogWriter.h"
#include "foundation/String.h"
#include "policy/TrustedDomain.h"
#include "relay/Addresses.h"
#include "relay/CommandGrammar.h"
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
    {"HELO", &SMTPCommunicator::relayPlain},
    {"EHLO", &SMTPCommunicator::handleEhlo},
    {"MAIL", &SMTPCommunicator::handleMail},
    {"RCPT", &SMTPCommunicator::handleRcpt},
    {"DATA", &SMTPCommunicator::handleData},
    {"RSET", &SMTPCommunicator::handleRset},
    {"NOOP", &SMTPCommunicator::relayPlain},
    {"QUIT", &SMTPCommunicator::relayPlain},
    {"VRFY", &SMTPCommunicator::relayPlain},
    {"EXPN", &SMTPCommunicator::relayPlain},
    {"HELP", &SMTPCommunicator::relayPlain},
    {"AUTH", &SMTPCommunicator::handleAuth},
    {"BDAT", &SMTPCommunicator::handleBdat},
    {"BURL", &SMTPCommunicator::refuseBurl},
    {"STARTTLS", &SMTPCommunicator::refuseStartTls},
};

namespace {

constexpr const char* SyntaxError = "501 5.5.4 Syntax error in parameters\r\n";
constexpr const char* Unrecognized = "500 5.5.2 Syntax error, command unrecognized\r\n";
constexpr const char* NotRelayed = "502 5.5.1 Pelorus does not relay this command.\r\n";
constexpr const char* TooManyRefused =
    "421 4.7.0 Pelorus closes the connection: too many unrecognized commands.\r\n";
constexpr const char* LostServer = "421 4.4.2 Pelorus lost the connection to the SMTP server.\r\n";
// How many lines the proxy refuses in one session before it sends the
// client away.
constexpr int RefusedLineLimit = 20;

// "FROM:" or "TO:" (any case, blanks allowed around the colon) at the start
// of the argument; the rest after the colon, or nothing.
bool takeKeyword(std::string_view argument, std::string_view keyword, std::string_view& rest)
{
    argument = trimView(argument);
    if (argument.size() < keyword.size() || !equalsIgnoringCase(argument.substr(0, keyword.size()), keyword))
        return false;
    argument.remove_prefix(keyword.size());
    while (!argument.empty() && argument.front() == ' ')
        argument.remove_prefix(1);
    if (argument.empty() || argument.front() != ':')
        return false;
    rest = trimView(argument.substr(1));
    return true;
}

} // namespace

void SMTPCommunicator::handleLine(const std::string& line)
{
    if (serverLost_) {
        // The server connection was closed while it may still hold an
        // envelope: nothing more goes anywhere in this session.
        sendToClient(LostServer);
        endSession_ = true;
        return;
    }
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
    CommandLine command;
    if (!parseCommandLine(line, command)) {
        trace(getLogWriter(), "SMTPCommunicator#handleLine,1,Refused a line outside the command grammar (%d bytes)",
              static_cast<int>(line.size()));
        refuseLine(Unrecognized);
        return;
    }
    const Command* known = nullptr;
    for (const Command& candidate : Commands)
        if (equalsIgnoringCase(command.verb, candidate.verb))
            known = &candidate;
    const bool secret = equalsIgnoringCase(command.verb, "AUTH");
    const std::string shown = secret ? "AUTH ***" : std::string(command.text);
    trace(getLogWriter(), "SMTPCommunicator#run,4,RECV from Client=[%s]", shown.c_str());
    if (known == nullptr) {
        refuseLine(NotRelayed);
        return;
    }
    if (upgradePending_) {
        // STARTTLS mode: nothing of the client's reaches the server before
        // the connection is encrypted, and a client that leaves at once
        // needs no server at all.
        if (equalsIgnoringCase(command.verb, "QUIT")) {
            sendToClient("221 2.0.0 Pelorus closes the connection.\r\n");
            endSession_ = true;
            return;
        }
        upgradeServer(line);
    }
    trace(getLogWriter(), "SMTPCommunicator#run,5,STAGE=%d,start %s", stage_, shown.c_str());
    (this->*known->action)(line, command.argument);
}

void SMTPCommunicator::refuseLine(const char* reply)
{
    sendToClient(reply);
    if (++refusedLines_ < RefusedLineLimit)
        return;
    error(getLogWriter(), "SMTPCommunicator#refuseLine,1,Refused %d lines: the session ends", refusedLines_);
    sendToClient(TooManyRefused);
    endSession_ = true;
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
        refuseLine(SyntaxError);
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
        refuseLine(SyntaxError);
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
    if (!argument.empty()) {
        // Not a DATA the proxy could answer, and never one for the server.
        refuseLine(SyntaxError);
        return;
    }
    debug(getLogWriter(), "SMTPCommunicator#run,10,Data command=[%s]", line.c_str());
    if (!mailStarted_) {
        // No MAIL was accepted: the data still goes to a spool file, and the
        // recipients the server accepted stay on the mail.
        spool_.initialize();
        mailStarted_ = true;
        mailBytes_ = 0;
    }
    sendToClient(DataReply);
    scanner_ = DataScanner();
    stage_ = 1;
}

void SMTPCommunicator::handleBdat(const std::string& /*line*/, std::string_view argument)
{
    refuseLine("502 5.5.1 Pelorus does not accept BDAT: please send the mail with DATA.\r\n");
    if (endSession_)
        return;
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
    refuseLine("502 5.5.1 Pelorus does not accept BURL: please send the mail with DATA.\r\n");
}

void SMTPCommunicator::refuseStartTls(const std::string& /*line*/, std::string_view /*argument*/)
{
    refuseLine("502 5.5.1 Pelorus does not offer STARTTLS to the mail client.\r\n");
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
