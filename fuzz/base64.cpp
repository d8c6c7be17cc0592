// Fuzzes both Base64 decoders: the encoded-word decoder never claims more
// than it wrote, and the body stream gives the same bytes however its input
// is cut.
#include "analysis/message/Base64Decoder.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string stream(std::string_view text, std::size_t pieceSize)
{
    MAIL::Base64Stream decoder;
    std::string out;
    for (std::size_t at = 0; at < text.size(); at += pieceSize) {
        const std::string_view piece = text.substr(at, pieceSize);
        // Exactly the room promised, so a write past it is caught.
        std::vector<unsigned char> buffer(MAIL::Base64Stream::maxOutput(piece.size()));
        const std::size_t n = decoder.decode(piece, buffer.data());
        if (n > buffer.size())
            __builtin_trap();
        out.append(reinterpret_cast<const char*>(buffer.data()), n);
    }
    std::vector<unsigned char> tail(2);
    out.append(reinterpret_cast<const char*>(tail.data()), decoder.finish(tail.data()));
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    std::unique_ptr<unsigned char[]> out;
    int length = -1;
    MAIL::Base64Decoder().decode(text.data(), text.size(), out, length);
    if (length < 0 || static_cast<std::size_t>(length) > (text.empty() ? 1 : text.size()))
        __builtin_trap();

    if (stream(text, text.size() + 1) != stream(text, 1 + data[0] % 80))
        __builtin_trap();
    return 0;
}
