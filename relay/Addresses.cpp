#include "relay/Addresses.h"

#include "analysis/message/AddressScan.h"
#include "foundation/String.h"

#include <algorithm>
#include <cctype>

namespace MAIL {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The token without its comments and the white space on either side of
// each; quoted strings kept as written.
std::string withoutComments(std::string_view token)
{
    std::string kept;
    kept.reserve(token.size());
    AddressScan scan;
    bool afterComment = false;
    for (const char c : token) {
        if (scan.step(c) == AddressScan::Place::Comment) {
            while (!kept.empty() && isBlank(kept.back()))
                kept.pop_back();
            afterComment = true;
            continue;
        }
        if (afterComment && isBlank(c))
            continue;
        afterComment = false;
        kept += c;
    }
    return kept;
}

} // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string headerTokenAddress(std::string_view token)
{
    const std::string bare = withoutComments(trimView(token));
    const std::string_view text = trimView(bare);
    const auto open = text.rfind('<');
    if (open != std::string_view::npos) {
        const auto close = text.find('>', open);
        return std::string(trimView(text.substr(open + 1, close == std::string_view::npos ? close : close - open - 1)));
    }
    return std::string(text);
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
    const auto keep = [&tokens](std::string_view token) {
        token = trimView(token);
        if (!token.empty())
            tokens.emplace_back(token);
    };
    AddressScan scan;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (scan.step(text[i]) == AddressScan::Place::Plain && text[i] == ',') {
            keep(std::string_view(text).substr(start, i - start));
            start = i + 1;
        }
    }
    keep(std::string_view(text).substr(start));
    return tokens;
}

} // namespace MAIL
