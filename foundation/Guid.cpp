#include "foundation/Guid.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include <sys/random.h>

namespace MAIL {

bool Guid::generate(std::string& text)
{
    std::uint8_t bytes[16];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    char formatted[39];
    std::snprintf(formatted, sizeof formatted,
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9],
                  bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    text.assign(formatted, 38);
    return true;
}

bool Guid::generate(String& text)
{
    std::string generated;
    if (!generate(generated))
        return false;
    text = String(generated.c_str());
    return true;
}

} // namespace MAIL
