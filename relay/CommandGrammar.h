// CommandGrammar: the one reading of a mail client's command line.
//
// The server behind the proxy may read command lines more leniently than
// the proxy does: one widely deployed kind skips white space before the
// verb and splits words at space, tab, vertical tab and form feed. A line
// that such a server takes as MAIL or RCPT must never reach it unless the
// proxy has taken it in too, so the session relays only lines of this
// grammar, and refuses every other line itself:
//
//   line     = verb [ SP argument ] line-end
//   verb     = 1*ALPHA              (compared without regard to case)
//   line-end = CR LF / LF
//
// No byte 0x00-0x1F or 0x7F may stand anywhere before the line end (a tab
// inside an argument too). Bytes 0x80-0xFF are ordinary argument bytes,
// so SMTPUTF8 addresses pass as they are.
#pragma once

#include <string_view>

namespace MAIL {

struct CommandLine {
    std::string_view text;      // the line without its line end
    std::string_view verb;      // as received
    std::string_view argument;  // what follows the one space after the verb
};

// Reads one line (its line end included, as the client reader gives it).
// False, with command untouched, for a line outside the grammar.
[[nodiscard]] bool parseCommandLine(std::string_view line, CommandLine& command);

// The line without its CR LF or LF.
std::string_view withoutLineEnd(std::string_view line);

} // namespace MAIL
