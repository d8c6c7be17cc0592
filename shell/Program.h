// Program: what happens between main() and the front end's own loop.
//
// prepareProcess() runs first, before any thread exists: SIGPIPE ignored,
// SIGINT, SIGTERM and SIGHUP blocked (the front end waits for them on a
// signalfd), the locale set once. startProgram() parses the command line,
// answers --help, --version and --decisions at once, checks the settings
// it names, creates the log, takes the single-instance lock, and only then
// stores those settings and removes the mails an earlier run left behind;
// it answers an exit status when the program must end there.
// runHeadless() is the terminal front end. listenerFailure() turns a
// listener that cannot be created into the message and exit status the
// user gets. endProcess() ends a program whose front end has returned.
#pragma once

#include "foundation/Mutex.h"
#include "shell/CommandLine.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace MAIL {

class ProxyService;

void prepareProcess();

struct StartedProgram {
    ProgramOptions options;
    std::unique_ptr<Mutex> instanceLock;
};

// The exit status when the program ends here (help, version, bad options,
// another copy running); nothing when it goes on.
std::optional<int> startProgram(int argc, char** argv, StartedProgram& started);

// True when an X server answers at the display's address (":0", "unix:1",
// "localhost:10.0", ...). A DISPLAY left over from a session that has ended
// would make the window toolkit abort; such a display is not used.
bool xDisplayReachable(std::string_view display);

// True when a Wayland compositor accepts a connection on the display's
// socket: the name as a path when absolute, else inside $XDG_RUNTIME_DIR;
// an empty name means "wayland-0", as for every Wayland client.
bool waylandDisplayReachable(std::string_view display);

// The lines for a listener that could not be created, and the exit status:
// the code's low 8 bits, or 1 when they are 0.
int listenerFailure(int code, std::string& lines);

// The terminal front end: notices on standard error, confirmations at the
// terminal prompt, until SIGINT, SIGTERM or SIGHUP. Returns the exit status.
int runHeadless(const ProgramOptions& options);

// Ends the process with the status once the front end is done: the log's
// last line written, the standard streams flushed, then _exit(). Sessions
// that outlived the shut-down's grace periods stop with the process instead
// of running on against the log, the settings and the TLS library while
// the static destructors take them apart.
[[noreturn]] void endProcess(int status);

// Tells a user without a stored server how to set one.
void remindOfMissingServer();

} // namespace MAIL
