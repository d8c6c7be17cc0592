// Fuzzes the client command grammar. Whatever the grammar accepts, a
// lenient server (white space skipped before the verb, words split at space,
// tab, vertical tab and form feed) reads with the same verb, and the line
// holds no control byte; so no line can carry a verb past the proxy that the
// proxy did not see.
#include "relay/CommandGrammar.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

std::string_view lenientVerb(std::string_view line)
{
    constexpr std::string_view Blanks = " \t\v\f";
    const std::size_t from = std::min(line.find_first_not_of(Blanks), line.size());
    line.remove_prefix(from);
    return line.substr(0, line.find_first_of(" \t\v\f\r\n"));
}

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    MAIL::CommandLine command;
    if (!MAIL::parseCommandLine(line, command))
        return 0;
    if (command.verb.empty() || !sameIgnoringCase(command.verb, lenientVerb(line)))
        __builtin_trap();
    for (const char c : command.text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            __builtin_trap();
    }
    // The pieces are the line itself, in order, with one space between.
    std::string rebuilt(command.verb);
    if (command.text.size() > command.verb.size())
        rebuilt += " " + std::string(command.argument);
    if (rebuilt != command.text || command.text != MAIL::withoutLineEnd(line))
        __builtin_trap();
    return 0;
}
