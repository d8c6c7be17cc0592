// DesktopMain: the program's desktop front end, the counterpart of
// runHeadless().
//
// Whether it can start at all is desktopRefusal()'s (DisplayChoice.h) to say.
// runDesktop() makes the QApplication (on the platform choosePlatform()
// picks: xcb with DISPLAY, so that XWayland is used on a Wayland session,
// wayland on a session without X), the main window and its tray icon,
// installs the desktop confirmation presenter and notifier, opens the
// Properties dialog first when the server settings are missing, then starts
// the proxy (watcher and listener) and runs the Qt loop until Exit or
// SIGINT, SIGTERM or SIGHUP.
// On the way out an open confirmation ends with Cancel before the loop ends;
// then the proxy is stopped in the same order as in the terminal mode.
// Returns the exit status: 0, or the status of a listener that could not be
// created, after the box "Exception happend. Error=%d".
#pragma once

#include "shell/CommandLine.h"

namespace MAIL {

int runDesktop(const ProgramOptions& options);

} // namespace MAIL
