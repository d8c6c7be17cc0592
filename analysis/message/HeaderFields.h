// Reading structured header values: "type/subtype; attribute=value; ...".
//
// Parameters are found by attribute name without regard to case, with
// values quoted (backslash escapes honoured) or bare (up to ";", blanks
// trimmed). RFC 2231 forms are understood: "name*" and the continuations
// "name*0", "name*0*", "name*1*", ... are joined in number order, %XX is
// decoded in the encoded ones, and the result is converted from the charset
// named in front ("utf-8''..."). A charset iconv does not know leaves the
// joined value as written. Nothing here throws on bad input.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace MAIL {

char lowerAscii(char c);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
bool startsWithIgnoreCase(std::string_view text, std::string_view prefix);
// Blanks (space, tab, CR, LF) off both ends.
std::string_view trimBlanks(std::string_view text);

// The value's media type or disposition type: the text before the first
// ";", trimmed and in lower case.
std::string leadingToken(std::string_view value);

// The plain (non-RFC 2231) parameter as written, unquoted; nullopt when
// absent. quoted, when given, tells whether it was written in quotes.
std::optional<std::string> findParameter(std::string_view value, std::string_view attribute,
                                         bool* quoted = nullptr);

// The parameter as text to show: its RFC 2231 form when present, otherwise
// its plain form with RFC 2047 words decoded; nullopt when absent.
std::optional<std::string> parameterText(std::string_view value, std::string_view attribute);

} // namespace MAIL
