// Diagnostics: the one channel for the library's console lines.
//
// Dumps, list-file traces and the log writer's start-up line go to standard
// output, but only when diagnostics are turned on (the program's --verbose,
// or the log's Console setting). They are off by default: on a desktop
// standard output ends up in the session journal, in a terminal it would mix
// with the confirmation prompt, and these lines carry mail addresses.
//
// Also here: the reporter that threads use for a failure escaping run(), so
// that the foundation can report it without depending on the log writer.
#pragma once

#include <string_view>

namespace MAIL {

// Turns the console lines on or off (off at start).
void setDiagnosticsEnabled(bool enabled);
bool diagnosticsEnabled();

// Writes one formatted line (or piece) to standard output when turned on.
// The whole text is written at once, so concurrent callers do not interleave.
[[gnu::format(printf, 1, 2)]] void diagnostic(const char* format, ...);

// Called with a one-line description when something escapes a thread's run().
// The default writes the line to standard error; the log writer installs one
// that writes an ERROR line. Install before threads start.
using FailureReporter = void (*)(std::string_view line);
void setFailureReporter(FailureReporter reporter);
void reportFailure(std::string_view line);

} // namespace MAIL
