#include "relay/ReplyReader.h"

#include <algorithm>
#include <cctype>
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

bool sameWord(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
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

std::string filterEhloReply(std::string_view reply)
{
    static constexpr std::string_view Hidden[] = {"CHUNKING", "BINARYMIME", "BURL", "STARTTLS"};
    std::vector<std::string_view> kept;
    std::size_t start = 0;
    bool first = true;
    while (start < reply.size()) {
        std::size_t lf = reply.find('\n', start);
        lf = lf == std::string_view::npos ? reply.size() : lf + 1;
        const std::string_view line = reply.substr(start, lf - start);
        start = lf;
        bool hide = false;
        if (!first && line.size() > 4) {
            // The extension keyword is the first word after "250-" or "250 ".
            std::string_view keyword = line.substr(4);
            keyword = keyword.substr(0, keyword.find_first_of(" \t\r\n"));
            for (std::string_view name : Hidden)
                hide = hide || sameWord(keyword, name);
        }
        first = false;
        if (!hide)
            kept.push_back(line);
    }
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
