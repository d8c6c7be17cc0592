#include "relay/ReplyReader.h"

#include "relay/Addresses.h"

#include <algorithm>
#include <iterator>
#include <chrono>
#include <vector>

namespace MAIL {

namespace {

using Clock = std::chrono::steady_clock;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Where the reply that starts the text ends (one past its last LF), or npos
// while its last line has not arrived.
std::size_t replyEnd(std::string_view text)
{
    std::size_t lineStart = 0;
    for (;;) {
        const std::size_t lf = text.find('\n', lineStart);
        if (lf == std::string_view::npos)
            return std::string_view::npos;
        const std::string_view line = text.substr(lineStart, lf - lineStart);
        // "NNN-text" continues the reply; anything else ends it.
        const bool continues = line.size() >= 4 && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2]) &&
                               line[3] == '-';
        if (!continues)
            return lf + 1;
        lineStart = lf + 1;
    }
}

// The extension keyword of an EHLO reply line: the first word after
// "250-" or "250 ".
std::string_view ehloKeyword(std::string_view line)
{
    line = line.size() > 4 ? line.substr(4) : std::string_view();
    return line.substr(0, line.find_first_of(" \t\r\n"));
}

// Calls visit(line, isFirst) for each line of a reply.
template <typename Visit> void forEachLine(std::string_view reply, Visit visit)
{
    for (std::size_t start = 0; start < reply.size();) {
        std::size_t lf = reply.find('\n', start);
        lf = lf == std::string_view::npos ? reply.size() : lf + 1;
        visit(reply.substr(start, lf - start), start == 0);
        start = lf;
    }
}

} // namespace

int replyCode(std::string_view reply)
{
    if (reply.size() < 3 || !isDigit(reply[0]) || !isDigit(reply[1]) || !isDigit(reply[2]))
        return 0;
    return (reply[0] - '0') * 100 + (reply[1] - '0') * 10 + (reply[2] - '0');
}

bool ReplyReader::read(std::string& reply, int& code, int timeoutMilliseconds)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    timedOut_ = false;
    char chunk[16384];
    for (;;) {
        const std::size_t end = replyEnd(pending_);
        if (end != std::string::npos) {
            reply.assign(pending_, 0, end);
            pending_.erase(0, end);
            code = replyCode(reply);
            return true;
        }
        if (pending_.size() > MaximumReply)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timedOut_ = true;
            return false;
        }
        const ssize_t n = transport_->receive(chunk, sizeof chunk, static_cast<int>(left));
        if (n <= 0) {
            timedOut_ = n < 0 && transport_->timedOut();
            return false;
        }
        pending_.append(chunk, static_cast<std::size_t>(n));
    }
}

bool ehloOffers(std::string_view reply, std::string_view keyword)
{
    bool offered = false;
    // The first line names the server, whatever it looks like.
    forEachLine(reply, [&](std::string_view line, bool first) {
        offered = offered || (!first && equalsIgnoringCase(ehloKeyword(line), keyword));
    });
    return offered;
}

std::string filterEhloReply(std::string_view reply)
{
    static constexpr std::string_view Hidden[] = {"CHUNKING", "BINARYMIME", "BURL", "STARTTLS"};
    std::vector<std::string_view> kept;
    forEachLine(reply, [&](std::string_view line, bool first) {
        const bool hide = !first && std::any_of(std::begin(Hidden), std::end(Hidden), [&](std::string_view name) {
                              return equalsIgnoringCase(ehloKeyword(line), name);
                          });
        if (!hide)
            kept.push_back(line);
    });
    std::string out;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        std::string line(kept[i]);
        if (i + 1 == kept.size() && line.size() >= 4 && line[3] == '-')
            line[3] = ' ';
        out += line;
    }
    return out;
}

} // namespace MAIL
