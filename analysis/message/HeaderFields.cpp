#include "analysis/message/HeaderFields.h"

#include "analysis/message/EncodedWords.h"
#include "analysis/message/URLDecoder.h"

#include <map>

namespace MAIL {

namespace {

// At most this many RFC 2231 continuations are joined; more is no name.
constexpr int MaxContinuations = 1000;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

struct Parameter {
    std::string_view attribute;
    std::string value;
    bool quoted = false;
};

// Reads the next parameter after pos (which stands on or before a ";").
// False when there is none left.
[[nodiscard]] bool nextParameter(std::string_view text, std::size_t& pos, Parameter& parameter)
{
    for (;;) {
        // Move to just past the next ";" outside quotes.
        bool quoted = false;
        while (pos < text.size() && (quoted || text[pos] != ';')) {
            if (text[pos] == '"')
                quoted = !quoted;
            else if (quoted && text[pos] == '\\')
                ++pos;
            ++pos;
        }
        if (pos >= text.size())
            return false;
        ++pos;
        const std::size_t nameStart = pos;
        while (pos < text.size() && text[pos] != '=' && text[pos] != ';')
            ++pos;
        if (pos >= text.size() || text[pos] != '=')
            continue;  // an attribute without a value: no parameter
        parameter.attribute = trimBlanks(text.substr(nameStart, pos - nameStart));
        ++pos;
        while (pos < text.size() && isBlank(text[pos]))
            ++pos;
        parameter.value.clear();
        parameter.quoted = pos < text.size() && text[pos] == '"';
        if (parameter.quoted) {
            for (++pos; pos < text.size() && text[pos] != '"'; ++pos) {
                if (text[pos] == '\\' && pos + 1 < text.size())
                    ++pos;
                parameter.value += text[pos];
            }
            if (pos < text.size())
                ++pos;
        } else {
            const std::size_t start = pos;
            while (pos < text.size() && text[pos] != ';')
                ++pos;
            parameter.value = trimBlanks(text.substr(start, pos - start));
        }
        return true;
    }
}

std::size_t firstSeparator(std::string_view text)
{
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"')
            quoted = !quoted;
        else if (!quoted && text[i] == ';')
            return i;
    }
    return text.size();
}

struct Section {
    bool encoded = false;
    std::string value;
};

// Joins the RFC 2231 sections and converts them; false when there are none.
[[nodiscard]] bool joinSections(const std::map<int, Section>& sections, std::string& out)
{
    if (sections.empty())
        return false;
    std::string charset;
    std::string bytes, written;
    bool first = true;
    for (const auto& [index, section] : sections) {
        std::string_view value = section.value;
        written += value;
        if (section.encoded && first) {
            // charset'language'text
            const std::size_t quote1 = value.find('\'');
            const std::size_t quote2 = quote1 == std::string_view::npos ? quote1 : value.find('\'', quote1 + 1);
            if (quote2 != std::string_view::npos) {
                charset = value.substr(0, quote1);
                value = value.substr(quote2 + 1);
            }
        }
        first = false;
        if (section.encoded)
            percentDecode(value, bytes);
        else
            bytes += value;
    }
    if (charset.empty())
        charset = "UTF-8";
    std::string converted;
    if (!convertCharset(charset, bytes, converted))
        converted = written;
    std::erase(converted, '\0');
    out = std::move(converted);
    return true;
}

} // namespace

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string leadingToken(std::string_view value)
{
    std::string token(trimBlanks(value.substr(0, firstSeparator(value))));
    for (char& c : token)
        c = lowerAscii(c);
    return token;
}

std::optional<std::string> findParameter(std::string_view value, std::string_view attribute, bool* quoted)
{
    std::size_t pos = firstSeparator(value);
    Parameter parameter;
    while (nextParameter(value, pos, parameter)) {
        if (equalsIgnoreCase(parameter.attribute, attribute)) {
            if (quoted != nullptr)
                *quoted = parameter.quoted;
            return std::move(parameter.value);
        }
    }
    return std::nullopt;
}

std::optional<std::string> parameterText(std::string_view value, std::string_view attribute)
{
    std::size_t pos = firstSeparator(value);
    Parameter parameter;
    std::optional<std::string> plain;
    std::map<int, Section> sections;
    while (nextParameter(value, pos, parameter)) {
        const std::string_view name = parameter.attribute;
        if (equalsIgnoreCase(name, attribute)) {
            if (!plain)
                plain = std::move(parameter.value);
            continue;
        }
        if (name.size() <= attribute.size() || !startsWithIgnoreCase(name, attribute) ||
            name[attribute.size()] != '*')
            continue;
        // "*", "*N" or "*N*" after the attribute.
        std::string_view rest = name.substr(attribute.size() + 1);
        Section section;
        int index = -1;
        if (rest.empty()) {
            section.encoded = true;
        } else {
            if (rest.back() == '*') {
                section.encoded = true;
                rest.remove_suffix(1);
            }
            if (rest.empty() || rest.size() > 4)
                continue;
            index = 0;
            bool digits = true;
            for (char c : rest) {
                digits = digits && c >= '0' && c <= '9';
                index = index * 10 + (c - '0');
            }
            if (!digits || index >= MaxContinuations)
                continue;
        }
        section.value = std::move(parameter.value);
        sections.try_emplace(index, std::move(section));
    }
    std::string joined;
    if (joinSections(sections, joined))
        return joined;
    if (plain)
        return decodeWords(*plain);
    return std::nullopt;
}

} // namespace MAIL
