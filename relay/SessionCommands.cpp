// The session's command stage. Each client line is read by one grammar
// (CommandGrammar.h); a line outside it is refused and never relayed. Each
// command is then found by its verb, without regard to case, in a table
// that gives its action. Only the verbs in the table reach the server: an
// extension the proxy does not understand could change the envelope behind
// its back, so every other verb is refused too. A client that keeps sending
// what the proxy refuses is sent away.
#include "relay/SMTPCommunicator.h"

#include "config/LogTag.h"
#include "config/LogWriter.h"
#include "foundation/String.h"
#include "relay/Addresses.h"
#include "relay/CommandGrammar.h"
#include "relay/Notifications.h"
#include "relay/RelayError.h"

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

constexpr std::string_view LogClass = "SMTPCommunicator";
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
        sendToClient(ProxyReply::LostServer);
        setStage(Stage::Closing);
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
        trace(getLogWriter(), "%s,1,Refused a line outside the command grammar (%d bytes)",
              logTag(LogClass).c_str(), static_cast<int>(line.size()));
        refuseLine(ProxyReply::Unrecognized);
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
        refuseLine(ProxyReply::NotRelayed);
        return;
    }
    if (upgradePending_) {
        // STARTTLS mode: nothing of the client's reaches the server before
        // the connection is encrypted, and a client that leaves at once
        // needs no server at all.
        if (equalsIgnoringCase(command.verb, "QUIT")) {
            sendToClient(ProxyReply::ClosingBeforeServer);
            setStage(Stage::Closing);
            return;
        }
        upgradeServer(line);
    }
    trace(getLogWriter(), "SMTPCommunicator#run,5,STAGE=%d,start %s", static_cast<int>(stage_), shown.c_str());
    (this->*known->action)(line, command.argument);
}

void SMTPCommunicator::refuseLine(ProxyReply reply)
{
    sendToClient(reply);
    if (++refusedLines_ < RefusedLineLimit)
        return;
    error(getLogWriter(), "%s,1,Refused %d lines: the session ends", logTag(LogClass).c_str(), refusedLines_);
    sendToClient(ProxyReply::TooManyRefused);
    setStage(Stage::Closing);
}

int SMTPCommunicator::exchange(const std::string& line, std::string& reply, bool secret)
{
    // Credentials never reach the log.
    debug(getLogWriter(), "SMTPCommunicator#run,12,SendAll=[%s]", secret ? "***" : line.c_str());
    sendToServer(line);
    return readReply(reply, ReplyMilliseconds);
}

void SMTPCommunicator::deliverReply(const std::string& reply, int code)
{
    if (code == 354) {
        // Only our own DATA may open the data stage on the server: data must
        // never reach it unseen.
        error(getLogWriter(), "SMTPCommunicator#run,13,failed to mailserver code=[%d]", code);
        closeServer();
        sendToClient(ProxyReply::UnexpectedServerReply);
        setStage(Stage::Closing);
        return;
    }
    sendToClient(reply);
    if (code == SESSION_END || code == 421) {
        debug(getLogWriter(), "SMTPCommunicator#run,14,Session ends with code=[%d]", code);
        setStage(Stage::Closing);
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
        refuseLine(ProxyReply::SyntaxError);
        return;
    }
    std::string reply;
    const int code = exchange(line, reply, false);
    if (is2xx(code)) {
        // A new mail begins only once the server has taken it on; a refused
        // MAIL leaves the recipients the server still holds.
        if (stage_ == Stage::Decided)
            debug(getLogWriter(), "SMTPCommunicator#run,11,Started new session =[%s]", line.c_str());
        else
            debug(getLogWriter(), "SMTPCommunicator#run,6,Started new session From=[%s]", line.c_str());
        initialize(cutUtf8(from, 255));
        setStage(Stage::Command);
        ++mailCounter_;
    }
    deliverReply(reply, code);
}

void SMTPCommunicator::handleRcpt(const std::string& line, std::string_view argument)
{
    std::string_view to;
    if (!takeKeyword(argument, "TO", to)) {
        refuseLine(ProxyReply::SyntaxError);
        return;
    }
    std::string reply;
    const int code = exchange(line, reply, false);
    // A refused recipient will not receive the mail and is not shown as one.
    if (is2xx(code)) {
        if (!mail_) {
            // Accepted with no MAIL before it: the server holds it all the
            // same, so it is held here too.
            initialize();
        }
        const RecipientRecord& record = mail_->addRecipient(to, trustedRecipients_, trustedDomains_);
        trace(getLogWriter(), "SMTPCommunicator#run,7,stage=%d RCPT_TO =[%s] TRIMMED=[%s]", static_cast<int>(stage_),
              record.entry.c_str(), record.address.c_str());
        if (!record.authorized)
            debug(getLogWriter(), "SMTPCommunicator#run,8,Found an invalid receiver[%s]", record.entry.c_str());
    }
    deliverReply(reply, code);
}

void SMTPCommunicator::handleData(const std::string& line, std::string_view argument)
{
    if (!argument.empty()) {
        // Not a DATA the proxy could answer, and never one for the server.
        refuseLine(ProxyReply::SyntaxError);
        return;
    }
    debug(getLogWriter(), "SMTPCommunicator#run,10,Data command=[%s]", line.c_str());
    if (!mail_ || mail_->recipients().empty()) {
        sendToClient(ProxyReply::NoValidRecipients);
        return;
    }
    sendToClient(ProxyReply::DataGoAhead);
    setStage(Stage::Data);
}

void SMTPCommunicator::handleBdat(const std::string& /*line*/, std::string_view argument)
{
    refuseLine(ProxyReply::BdatRefused);
    if (stage_ == Stage::Closing)
        return;
    // The octets announced follow the command; they must not be read as
    // commands. Without a readable count the stream cannot be followed.
    const std::string_view size = argument.substr(0, argument.find(' '));
    std::uint64_t count = 0;
    const auto [end, ec] = std::from_chars(size.data(), size.data() + size.size(), count);
    if (size.empty() || ec != std::errc() || end != size.data() + size.size() ||
        clientReader_.discard(count, ClientIdleMilliseconds) != ClientReader::Status::Ok)
        setStage(Stage::Closing);
}

void SMTPCommunicator::refuseBurl(const std::string& /*line*/, std::string_view /*argument*/)
{
    refuseLine(ProxyReply::BurlRefused);
}

void SMTPCommunicator::refuseStartTls(const std::string& /*line*/, std::string_view /*argument*/)
{
    refuseLine(ProxyReply::StartTlsRefused);
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
