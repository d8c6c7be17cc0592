#include "relay/CommandGrammar.h"

#include <algorithm>

namespace MAIL {

namespace {

bool isControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

} // namespace

std::string_view withoutLineEnd(std::string_view line)
{
    if (line.size() >= 2 && line.substr(line.size() - 2) == "\r\n")
        line.remove_suffix(2);
    else if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    return line;
}

bool parseCommandLine(std::string_view line, CommandLine& command)
{
    const std::string_view text = withoutLineEnd(line);
    if (std::any_of(text.begin(), text.end(), isControl))
        return false;
    const std::size_t verbEnd = std::find_if_not(text.begin(), text.end(), isLetter) - text.begin();
    if (verbEnd == 0 || (verbEnd < text.size() && text[verbEnd] != ' '))
        return false;
    command.text = text;
    command.verb = text.substr(0, verbEnd);
    command.argument = verbEnd < text.size() ? text.substr(verbEnd + 1) : std::string_view();
    return true;
}

} // namespace MAIL
