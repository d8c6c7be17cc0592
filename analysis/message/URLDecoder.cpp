#include "analysis/message/URLDecoder.h"

#include <cstring>

namespace MAIL {

namespace {

// The value of a hexadecimal digit, or -1.
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int nibble(char c)
{
    const int value = hexValue(c);
    return value < 0 ? 0 : value;
}

} // namespace

void URLDecoder::decode(std::string_view text, std::string& out)
{
    out.reserve(out.size() + text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            const int high = i + 1 < text.size() ? nibble(text[i + 1]) : 0;
            const int low = i + 2 < text.size() ? nibble(text[i + 2]) : 0;
            out += static_cast<char>(high << 4 | low);
            if (i + 2 >= text.size())
                return;  // the missing digits end the text
            i += 2;
        } else {
            out += c;
        }
    }
}

std::unique_ptr<char[]> URLDecoder::decode(const char* text) const
{
    if (text == nullptr)
        return nullptr;
    std::string decoded;
    decode(std::string_view(text), decoded);
    const std::size_t length = std::strlen(decoded.c_str());
    auto out = std::make_unique<char[]>(length + 1);
    std::memcpy(out.get(), decoded.data(), length);
    out[length] = '\0';
    return out;
}

void percentDecode(std::string_view text, std::string& out)
{
    out.reserve(out.size() + text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) << 4 | hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
}

} // namespace MAIL
