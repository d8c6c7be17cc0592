#include "shell/TerminalText.h"

#include "relay/Notifications.h"

#include <cstdio>

namespace MAIL {

namespace {

void appendEscaped(std::string& out, std::string_view bytes)
{
    for (const char c : bytes) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
        out += escaped;
    }
}

// Length of the well-formed UTF-8 sequence at the start of text and its
// code point; 0 when the bytes there are not UTF-8.
std::size_t decodeUtf8(std::string_view text, char32_t& point)
{
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        point = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0;  // no overlong forms
        else if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        point = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char c = byte(i);
        if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF))
            return 0;
        point = (point << 6) | (c & 0x3F);
    }
    return length;
}

bool actsOnTerminal(char32_t point)
{
    return (point >= 0x80 && point <= 0x9F)          // C1 controls
           || point == 0x061C || point == 0x200E || point == 0x200F  // direction marks
           || (point >= 0x202A && point <= 0x202E)   // embeddings and overrides
           || (point >= 0x2066 && point <= 0x2069);  // isolates
}

} // namespace

std::string terminalText(std::string_view text, bool keepLineBreaks)
{
    const std::string visible = visibleText(text, keepLineBreaks);
    std::string_view rest(visible);
    std::string out;
    out.reserve(visible.size());
    while (!rest.empty()) {
        if (static_cast<unsigned char>(rest[0]) < 0x80) {
            out += rest[0];
            rest.remove_prefix(1);
            continue;
        }
        char32_t point = 0;
        const std::size_t length = decodeUtf8(rest, point);
        if (length == 0) {
            appendEscaped(out, rest.substr(0, 1));
            rest.remove_prefix(1);
            continue;
        }
        if (actsOnTerminal(point))
            appendEscaped(out, rest.substr(0, length));
        else
            out.append(rest.substr(0, length));
        rest.remove_prefix(length);
    }
    return out;
}

std::string balloonLine(const Balloon& balloon)
{
    const std::string prefix = std::string("Pelorus: ") + noticeWord(balloon.kind) + ": ";
    const std::string indent(prefix.size(), ' ');
    std::string text = terminalText(balloon.text, true);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    std::string line = prefix;
    for (std::size_t i = 0; i < text.size(); ++i) {
        line += text[i];
        if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] != '\n')
            line += indent;  // an empty line stays empty
    }
    line += '\n';
    return line;
}

} // namespace MAIL
