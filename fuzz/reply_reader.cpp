// Fuzzes the server reply reader and the EHLO filter. The first byte sets
// the size of the pieces the bytes arrive in. Every reply read is a whole
// reply (continuation lines, then one last line), the replies are exactly
// the bytes received in order, memory stays within the reply limit, and the
// EHLO filter never adds a line.
#include "relay/ReplyReader.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

class PieceTransport : public MAIL::Transport {
public:
    PieceTransport(std::string_view bytes, std::size_t piece) : bytes_(bytes), piece_(piece) {}

    ssize_t receive(char* buffer, std::size_t size, int /*milliseconds*/) override
    {
        const std::size_t n = std::min({size, piece_, bytes_.size()});
        std::memcpy(buffer, bytes_.data(), n);
        bytes_.remove_prefix(n);
        return static_cast<ssize_t>(n);
    }
    ssize_t sendAll(const char* /*data*/, std::size_t length, int /*seconds*/) override
    {
        return static_cast<ssize_t>(length);
    }
    bool timedOut() const override { return false; }

private:
    std::string_view bytes_;
    std::size_t piece_;
};

bool continues(std::string_view line)
{
    return line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) && std::isdigit(static_cast<unsigned char>(line[2])) &&
           line[3] == '-';
}

std::size_t lines(std::string_view text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    PieceTransport transport(bytes, 1 + data[0] % 64);
    MAIL::ReplyReader reader(transport);
    std::string all;
    std::string reply;
    int code = 0;
    while (reader.read(reply, code, 1000)) {
        if (reply.empty() || reply.back() != '\n' || reply.size() > MAIL::ReplyReader::MaximumReply + 16384)
            __builtin_trap();
        // Every line but the last continues the reply; the last does not.
        std::size_t start = 0;
        for (;;) {
            const std::size_t lf = reply.find('\n', start);
            const bool last = lf + 1 == reply.size();
            if (continues(std::string_view(reply).substr(start, lf - start)) == last)
                __builtin_trap();
            if (last)
                break;
            start = lf + 1;
        }
        if (code != MAIL::replyCode(reply) || lines(MAIL::filterEhloReply(reply)) > lines(reply))
            __builtin_trap();
        all += reply;
    }
    if (bytes.substr(0, all.size()) != all)
        __builtin_trap();
    return 0;
}
