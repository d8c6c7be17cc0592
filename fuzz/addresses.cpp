// Fuzzes the reading of To and Cc texts, as written and as the address list
// decoder hands them on: the tokens are trimmed pieces of the text, in
// order, each one token again when read alone; a token's address is made
// of the token's own characters; and a comment put before or after a token
// that closes what it opens never changes its address.
#include "analysis/message/EncodedWords.h"
#include "relay/Addresses.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool isSubsequence(std::string_view part, std::string_view whole)
{
    std::size_t at = 0;
    for (const char c : whole)
        if (at < part.size() && part[at] == c)
            ++at;
    return at == part.size();
}

void check(const std::string& text)
{
    std::size_t from = 0;
    for (const std::string& token : MAIL::addressTokens(text)) {
        if (token.empty() || isBlank(token.front()) || isBlank(token.back()))
            __builtin_trap();
        const std::size_t at = text.find(token, from);
        if (at == std::string::npos)
            __builtin_trap();
        from = at + token.size();
        const auto alone = MAIL::addressTokens(token);
        if (alone.size() != 1 || alone[0] != token)
            __builtin_trap();
        const std::string address = MAIL::headerTokenAddress(token);
        if (!isSubsequence(address, token))
            __builtin_trap();
        // A comma after the token splits only when nothing is left open.
        if (MAIL::addressTokens(token + ",x").size() == 2 &&
            MAIL::headerTokenAddress("(c, \\) (d)) " + token + " (e\\(<f@g>)") != address)
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    check(text);
    check(MAIL::decodeAddressList(text));
    return 0;
}
