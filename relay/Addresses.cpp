#include "relay/Addresses.h"

#include "foundation/String.h"
#include "foundation/StringTokenizer.h"

#include <algorithm>
#include <cctype>

namespace MAIL {

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string headerTokenAddress(std::string_view token)
{
    token = trimView(token);
    const auto open = token.rfind('<');
    if (open != std::string_view::npos) {
        const auto close = token.find('>', open);
        return std::string(trimView(token.substr(open + 1, close == std::string_view::npos ? close : close - open - 1)));
    }
    return std::string(token);
}

std::string envelopeAddress(std::string_view argument)
{
    argument = trimView(argument);
    if (!argument.empty() && argument.front() == '<') {
        const auto close = argument.find('>');
        return std::string(argument.substr(1, close == std::string_view::npos ? close : close - 1));
    }
    return std::string(argument.substr(0, argument.find_first_of(" \t")));
}

std::vector<std::string> addressTokens(const std::string& text)
{
    std::vector<std::string> tokens;
    StringTokenizer tokenizer(text.c_str(), ',', 0);
    while (tokenizer.hasMoreTokens()) {
        String token;
        tokenizer.nextToken(token);
        const std::string_view trimmed = trimView(token.view());
        if (!trimmed.empty())
            tokens.emplace_back(trimmed);
    }
    return tokens;
}

} // namespace MAIL
