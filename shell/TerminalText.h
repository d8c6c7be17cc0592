// Text for the terminal: how a notice is printed.
//
// Subjects, names and addresses come from the mail, so everything the
// terminal prints of them goes through visibleText(): control characters,
// bidirectional controls and bytes that are not UTF-8 are shown escaped. A
// crafted subject can then neither move the cursor, erase lines, reorder
// what the user reads, nor fake a row.
#pragma once

#include "foundation/VisibleText.h"

#include <optional>
#include <string>
#include <string_view>

namespace MAIL {

struct Balloon;
struct HeldMail;

// A notice as the terminal shows it: "Pelorus: info: <text>\n". Line breaks
// of the text are kept; the lines after the first are indented under the
// text (empty lines stay empty, line breaks at the end are dropped), so no
// notice line can pass for a confirmation row.
std::string balloonLine(const Balloon& balloon);

// A held mail as the terminal announces it: "Sending in N s: 'SUBJECT'.
// Type u K and Enter to undo.\n", the subject escaped and cut as the
// notices cut it.
std::string holdLine(const HeldMail& mail);

// The number of a "u K" line (blanks around and between ignored, any
// case), as its digits; nothing for any other line. The digits are not
// bounded here: a number too long for a held mail is simply not held.
std::optional<std::string> undoNumber(std::string_view line);

// The answer to "u K" when no mail K is held: "No mail K is held.\n".
std::string notHeldLine(const std::string& number);

} // namespace MAIL
