#include "foundation/VisibleText.h"

#include "foundation/StringConverter.h"

#include <cstdio>

namespace MAIL {

namespace {

void appendEscape(std::string& out, char32_t point)
{
    char escaped[16];
    if (point <= 0xFF)
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(point));
    else
        std::snprintf(escaped, sizeof escaped, "\\u{%04X}", static_cast<unsigned>(point));
    out += escaped;
}

bool mustEscape(char32_t point)
{
    return point < 0x20 || (point >= 0x7F && point <= 0x9F)  // C0, DEL, C1
           || point == 0x061C || point == 0x200E || point == 0x200F  // direction marks
           || (point >= 0x202A && point <= 0x202E)                   // embeddings and overrides
           || (point >= 0x2066 && point <= 0x2069)                   // isolates
           || point == 0x2028 || point == 0x2029;                    // line and paragraph separators
}

} // namespace

std::string visibleText(std::string_view text, bool keepLineBreaks)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        if (keepLineBreaks && text.compare(i, 2, "\r\n") == 0) {
            out += '\n';
            i += 2;
            continue;
        }
        const char32_t point = decodeUtf8(text, i);
        if (point == InvalidUtf8) {  // not UTF-8: the bytes themselves
            for (std::size_t k = start; k < i; ++k)
                appendEscape(out, static_cast<unsigned char>(text[k]));
        } else if (mustEscape(point)) {
            appendEscape(out, point);
        } else {
            out.append(text.substr(start, i - start));
        }
    }
    return out;
}

} // namespace MAIL
