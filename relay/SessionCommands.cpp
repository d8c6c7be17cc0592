// The session's command stage. Each client line is read by one grammar
// (CommandGrammar.h); a line outside it is refused and never relayed. Each
// command is then found by its verb, without regard to case, in a table.
// A command is either handled by the proxy itself (its action), or relayed
// to the server, and then the table says what the server's reply means to
// the session (answered). Only the verbs in the table reach the server: an
// extension the proxy does not understand could change the envelope behind
// its back, so every other verb is refused. A client that keeps sending
// what the proxy refuses is sent away.
//
// Pipelining: when the server's last EHLO reply offered PIPELINING, the
// envelope commands the client already sent (MAIL, RCPT, RSET, at most a
// group's worth, optionally ended by one NOOP) go to the server in one
// write, and their replies are read and relayed in order, each meaning the
// same as it would alone. A group stops before every command whose
// handling depends on earlier replies or that the proxy answers itself, so
// the client always sees the replies in the order of its commands.
#include "relay/SMTPCommunicator.h"

#include "config/LogTag.h"
#include "config/LogWriter.h"
#include "foundation/String.h"
#include "relay/Addresses.h"
#include "relay/CommandGrammar.h"
#include "relay/Notifications.h"
#include "relay/RelayError.h"

#include <charconv>
#include <vector>

using namespace MAIL;

struct SMTPCommunicator::Command {
    enum class Group { Never, Member, Last };

    const char* verb;
    // Handled by the proxy itself...
    void (SMTPCommunicator::*action)(const std::string& line, std::string_view argument);
    // ...or relayed: what the server's reply means (argument: what follows
    // the keyword when there is one).
    void (SMTPCommunicator::*answered)(const std::string& line, std::string_view argument, const std::string& reply,
                                       int code);
    // "FROM" or "TO": the argument must open with it and a colon.
    const char* keyword;
    Group group;
};

// BDAT and BURL data, and a TLS session, cannot be inspected: the proxy
// removes them from the EHLO reply and refuses them here.
const SMTPCommunicator::Command SMTPCommunicator::Commands[] = {
    {"HELO", nullptr, &SMTPCommunicator::heloAnswered, nullptr, Command::Group::Never},
    {"EHLO", nullptr, &SMTPCommunicator::ehloAnswered, nullptr, Command::Group::Never},
    {"MAIL", nullptr, &SMTPCommunicator::mailAnswered, "FROM", Command::Group::Member},
    {"RCPT", nullptr, &SMTPCommunicator::rcptAnswered, "TO", Command::Group::Member},
    {"DATA", &SMTPCommunicator::handleData, nullptr, nullptr, Command::Group::Never},
    {"RSET", nullptr, &SMTPCommunicator::rsetAnswered, nullptr, Command::Group::Member},
    {"NOOP", nullptr, &SMTPCommunicator::plainAnswered, nullptr, Command::Group::Last},
    {"QUIT", nullptr, &SMTPCommunicator::plainAnswered, nullptr, Command::Group::Never},
    {"VRFY", nullptr, &SMTPCommunicator::plainAnswered, nullptr, Command::Group::Never},
    {"EXPN", nullptr, &SMTPCommunicator::plainAnswered, nullptr, Command::Group::Never},
    {"HELP", nullptr, &SMTPCommunicator::plainAnswered, nullptr, Command::Group::Never},
    {"AUTH", nullptr, &SMTPCommunicator::authAnswered, nullptr, Command::Group::Never},
    {"BDAT", &SMTPCommunicator::handleBdat, nullptr, nullptr, Command::Group::Never},
    {"BURL", &SMTPCommunicator::refuseExtension, nullptr, nullptr, Command::Group::Never},
    {"STARTTLS", &SMTPCommunicator::refuseExtension, nullptr, nullptr, Command::Group::Never},
};

namespace {

constexpr std::string_view LogClass = "SMTPCommunicator";
// How many lines the proxy refuses in one session before it sends the
// client away.
constexpr int RefusedLineLimit = 20;
// A pipelined group: at most this many commands (RFC 2920's advice for a
// server's view of a client), and at most this many bytes, well inside any
// socket buffer, so its one write completes without the server having to
// read before it answers: neither side can block the other.
constexpr std::size_t GroupCommands = 100;
constexpr std::size_t GroupBytes = 16 * 1024;

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

bool SMTPCommunicator::readCommand(std::string_view line, const Command*& command, std::string_view& argument,
                                   std::string& shown) const
{
    CommandLine parsed;
    if (!parseCommandLine(line, parsed))
        return false;
    // Credentials never reach the log.
    shown = equalsIgnoringCase(parsed.verb, "AUTH") ? "AUTH ***" : std::string(parsed.text);
    argument = parsed.argument;
    command = nullptr;
    for (const Command& candidate : Commands)
        if (equalsIgnoringCase(parsed.verb, candidate.verb))
            command = &candidate;
    return true;
}

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
        authAnswered(line, {}, reply, code);
        return;
    }
    const Command* command = nullptr;
    std::string_view argument;
    std::string shown;
    if (!readCommand(line, command, argument, shown)) {
        trace(getLogWriter(), "%s,1,Refused a line outside the command grammar (%d bytes)",
              logTag(LogClass).c_str(), static_cast<int>(line.size()));
        refuseLine(ProxyReply::Unrecognized);
        return;
    }
    trace(getLogWriter(), "SMTPCommunicator#run,4,RECV from Client=[%s]", shown.c_str());
    if (command == nullptr) {
        refuseLine(ProxyReply::NotRelayed);
        return;
    }
    if (upgradePending_) {
        // STARTTLS mode: nothing of the client's reaches the server before
        // the connection is encrypted, and a client that leaves at once
        // needs no server at all.
        if (equalsIgnoringCase(command->verb, "QUIT")) {
            sendToClient(ProxyReply::ClosingBeforeServer);
            setStage(Stage::Closing);
            return;
        }
        upgradeServer(line);
    }
    trace(getLogWriter(), "SMTPCommunicator#run,5,STAGE=%d,start %s", static_cast<int>(stage_), shown.c_str());
    if (command->action != nullptr) {
        (this->*command->action)(line, argument);
        return;
    }
    if (command->keyword != nullptr && !takeKeyword(argument, command->keyword, argument)) {
        refuseLine(ProxyReply::SyntaxError);
        return;
    }
    if (pipelining_ && command->group == Command::Group::Member) {
        relayGroup(line, *command, argument);
        return;
    }
    std::string reply;
    const int code = exchange(line, reply, equalsIgnoringCase(command->verb, "AUTH"));
    (this->*command->answered)(line, argument, reply, code);
}

void SMTPCommunicator::relayGroup(const std::string& first, const Command& command, std::string_view argument)
{
    // The group: the first command and those the client already sent
    // behind it that may join, each with what follows its keyword.
    struct Member {
        std::string line;
        const Command* command;
        std::string argument;
    };
    std::vector<Member> members{{first, &command, std::string(argument)}};
    std::size_t bytes = first.size();
    while (members.size() < GroupCommands && bytes < GroupBytes) {
        const std::string_view next = clientReader_.bufferedLine();
        const Command* joining = nullptr;
        std::string_view rest;
        std::string shown;
        if (next.empty() || !readCommand(next, joining, rest, shown) || joining == nullptr ||
            joining->group == Command::Group::Never ||
            (joining->keyword != nullptr && !takeKeyword(rest, joining->keyword, rest)))
            break;
        trace(getLogWriter(), "SMTPCommunicator#run,4,RECV from Client=[%s]", shown.c_str());
        members.push_back({std::string(next), joining, std::string(rest)});
        bytes += next.size();
        clientReader_.consume(next.size());
        if (joining->group == Command::Group::Last)
            break;
    }
    std::string batch;
    for (const Member& member : members) {
        debug(getLogWriter(), "SMTPCommunicator#run,12,SendAll=[%s]", member.line.c_str());
        batch += member.line;
    }
    // Gone in the middle: the client has every reply the server gave, and
    // no command still waiting counts as accepted.
    const auto lost = [&] {
        error(getLogWriter(), "%s,1,The SMTP server was lost in the middle of %d pipelined commands",
              logTag(LogClass).c_str(), static_cast<int>(members.size()));
        closeServer();
        sendToClient(ProxyReply::LostServer);
        setStage(Stage::Closing);
    };
    if (server_->sendAll(batch.data(), batch.size(), SendSeconds) != static_cast<ssize_t>(batch.size())) {
        lost();
        return;
    }
    for (const Member& member : members) {
        std::string reply;
        int code = 0;
        if (!serverReplies_.read(reply, code, ReplyMilliseconds)) {
            lost();
            return;
        }
        debug(getLogWriter(), "SMTPCommunicator#fromServerToClient,3,recv=[%s]", reply.c_str());
        (this->*member.command->answered)(member.line, member.argument, reply, code);
        if (stage_ == Stage::Closing)
            return;  // the server ended the session
    }
}

void SMTPCommunicator::refuseLine(const ReplyText& reply)
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

void SMTPCommunicator::plainAnswered(const std::string& /*line*/, std::string_view /*argument*/,
                                     const std::string& reply, int code)
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

void SMTPCommunicator::heloAnswered(const std::string& line, std::string_view argument, const std::string& reply,
                                    int code)
{
    if (is2xx(code))
        pipelining_ = false;  // a HELO session has no extensions
    plainAnswered(line, argument, reply, code);
}

void SMTPCommunicator::ehloAnswered(const std::string& line, std::string_view argument, const std::string& reply,
                                    int code)
{
    if (is2xx(code))
        pipelining_ = ehloOffers(reply, "PIPELINING");
    plainAnswered(line, argument, is2xx(code) ? filterEhloReply(reply) : reply, code);
}

void SMTPCommunicator::mailAnswered(const std::string& line, std::string_view from, const std::string& reply,
                                    int code)
{
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
    plainAnswered(line, from, reply, code);
}

void SMTPCommunicator::rcptAnswered(const std::string& line, std::string_view to, const std::string& reply, int code)
{
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
    plainAnswered(line, to, reply, code);
}

void SMTPCommunicator::rsetAnswered(const std::string& line, std::string_view argument, const std::string& reply,
                                    int code)
{
    // The server forgot the envelope; so do we.
    if (is2xx(code))
        forgetMail();
    plainAnswered(line, argument, reply, code);
}

void SMTPCommunicator::authAnswered(const std::string& line, std::string_view argument, const std::string& reply,
                                    int code)
{
    plainAnswered(line, argument, reply, code);
    authResponsePending_ = code == 334;
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

void SMTPCommunicator::refuseExtension(const std::string& line, std::string_view /*argument*/)
{
    const bool burl = equalsIgnoringCase(std::string_view(line).substr(0, 4), "BURL");
    refuseLine(burl ? ProxyReply::BurlRefused : ProxyReply::StartTlsRefused);
}
