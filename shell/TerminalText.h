// Text for the terminal: how a notice is printed.
//
// Subjects, names and addresses come from the mail, so everything the
// terminal prints of them goes through visibleText(): control characters,
// bidirectional controls and bytes that are not UTF-8 are shown escaped. A
// crafted subject can then neither move the cursor, erase lines, reorder
// what the user reads, nor fake a row.
#pragma once

#include "foundation/VisibleText.h"

#include <string>

namespace MAIL {

struct Balloon;

// A notice as the terminal shows it: "Pelorus: info: <text>\n". Line breaks
// of the text are kept; the lines after the first are indented under the
// text (empty lines stay empty, line breaks at the end are dropped), so no
// notice line can pass for a confirmation row.
std::string balloonLine(const Balloon& balloon);

} // namespace MAIL
