// VisibleText: text from a mail, a peer or a file, made safe to show.
//
// Whatever shows such text to the user (a desktop notice, a message box,
// the terminal) passes it through visibleText(), so a crafted subject or
// sender can neither move a terminal's cursor, nor add a line to a notice,
// nor reorder what the user reads. Shown escaped:
//   - C0 controls (CR and LF included), DEL and C1 controls, as \xNN;
//   - the bidirectional controls (U+061C, U+200E, U+200F, U+202A to U+202E,
//     U+2066 to U+2069) and the line and paragraph separators (U+2028,
//     U+2029), as \u{NNNN};
//   - every byte that is not part of well-formed UTF-8, as \xNN.
// The escaped text holds none of these any more (bar the LFs kept for CR
// LF), so a sink that escapes a notice again leaves the escaped parts as
// they are.
#pragma once

#include <string>
#include <string_view>

namespace MAIL {

// The text with the characters above escaped. With keepLineBreaks, each
// CR LF becomes one LF (the one line break a caller's own text may carry);
// a lone CR or LF is escaped all the same.
std::string visibleText(std::string_view text, bool keepLineBreaks);

} // namespace MAIL
