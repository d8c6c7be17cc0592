// Text for the terminal: what the confirmation and the notices print.
//
// Subjects, names and addresses come from the mail, so they are printed
// with every control character shown as \xNN (visibleText), and also with
// the characters a terminal could still act on shown as \xNN bytes: C1
// controls (an encoded CSI starts escape sequences on some terminals),
// bidirectional overrides (which reorder what the user reads) and bytes
// that are not UTF-8. A crafted subject can then neither move the cursor,
// erase lines, nor fake a row.
#pragma once

#include <string>
#include <string_view>

namespace MAIL {

struct Balloon;

// The text made safe for a terminal; CR LF becomes a line break when
// keepLineBreaks, every other control character \xNN.
std::string terminalText(std::string_view text, bool keepLineBreaks);

// A notice as the terminal shows it: "Pelorus: info: <text>\n". Line breaks
// of the text are kept; the lines after the first are indented under the
// text (empty lines stay empty, line breaks at the end are dropped), so no
// notice line can pass for a confirmation row.
std::string balloonLine(const Balloon& balloon);

} // namespace MAIL
