// DesktopMain: the program's desktop front end, the counterpart of
// runHeadless().
//
// runDesktop() makes the QApplication (on the xcb platform when
// QT_QPA_PLATFORM is unset and DISPLAY is set, so that XWayland is used on a
// Wayland session), the main window and its tray icon, installs the desktop
// confirmation presenter and notifier, opens the Properties dialog first
// when the server settings are missing, then starts the proxy (watcher and
// listener) and runs the Qt loop until Exit or SIGINT, SIGTERM or SIGHUP.
// On the way out an open confirmation ends with Cancel before the loop ends;
// then the proxy is stopped in the same order as in the terminal mode.
// Returns the exit status: 0, or the status of a listener that could not be
// created, after the box "Exception happend. Error=%d".
#pragma once

#include "shell/CommandLine.h"

namespace MAIL {

// True when the desktop can start: an X display, or Qt's offscreen platform
// asked for by name (tests, screenshots).
bool desktopAvailable();

int runDesktop(const ProgramOptions& options);

} // namespace MAIL
