// Fuzzes encoded-word and parameter decoding: any text gives UTF-8-or-bytes
// output without NUL, without a crash or overrun.
#include "analysis/message/EncodedWords.h"
#include "analysis/message/HeaderFields.h"
#include "analysis/message/URLDecoder.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const std::string& decoded : {MAIL::decodeWords(std::string_view(text)), MAIL::decodeAddressList(text)})
        if (decoded.find('\0') != std::string::npos)
            __builtin_trap();
    const auto array = MAIL::decodeWords(text.c_str());
    if (array == nullptr)
        __builtin_trap();
    (void)MAIL::parameterText(text, "name");
    (void)MAIL::parameterText(text, "filename");
    (void)MAIL::findParameter(text, "boundary");
    (void)MAIL::URLDecoder().decode(text.c_str());
    return 0;
}
