// DisplayChoice: whether the desktop shell can start on this session, and
// on which Qt platform, decided before any QApplication exists.
//
// A window toolkit that cannot reach its display aborts the process, so
// each way to a display is checked first:
//   - QT_QPA_PLATFORM set by the user wins. It may name several platforms
//     separated by ';' (Qt tries them in order); the shell starts when one
//     of them can: "xcb" needs an X server answering at DISPLAY, a "wayland"
//     platform needs the compositor at WAYLAND_DISPLAY and Qt's wayland
//     plugin, any other platform needs only its plugin (offscreen: tests).
//   - Otherwise DISPLAY means xcb (XWayland on a Wayland session), as long
//     as its X server answers.
//   - Otherwise WAYLAND_DISPLAY means Qt's wayland platform, when the
//     compositor's socket answers and qt6-wayland is installed.
// When none can start, desktopRefusal() gives the line that says why, and
// the program runs in the terminal.
#pragma once

#include <QString>

#include <optional>
#include <string>

namespace MAIL {

// Nothing when the desktop shell can start; else the line for standard
// error (no line break).
std::optional<std::string> desktopRefusal();

// Sets QT_QPA_PLATFORM when the user left it unset: xcb with DISPLAY,
// wayland with only WAYLAND_DISPLAY.
void choosePlatform();

// True when a Qt platform plugin with this key (compared as Qt compares it,
// without regard to case) is installed where Qt looks for platform plugins.
// Reads the plugins' metadata only; none is loaded.
bool platformPluginInstalled(const QString& key);

} // namespace MAIL
