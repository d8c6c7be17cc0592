// SessionAutostart: "Start Pelorus when I log in", kept as the one file the
// desktop's session manager reads at login (XDG Autostart):
// $XDG_CONFIG_HOME/autostart/pelorus.desktop, by default in ~/.config. The
// file is the whole state; nothing else remembers the choice.
//
// The file is the installed menu entry with Exec set to the running
// executable, so the session starts this very program wherever it was
// installed, and without any TryExec or Hidden key of the entry. It is
// written through a temporary file beside it (created exclusively, 0600)
// renamed over it: a link placed at its name is replaced, never followed,
// and a session that starts meanwhile reads the old file or the new one,
// never a part. A missing autostart folder is created 0700.
//
// Failures come back as the line the user reads:
// "Pelorus could not write FILE: REASON."
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace MAIL {

// The autostart file; empty when no home folder is known.
std::string autostartFile();

// True when the file is there and its [Desktop Entry] group does not say
// Hidden=true.
bool autostartEnabled(const std::string& file);

// Writes the file from the menu entry at menuEntry with Exec = executable.
std::optional<std::string> writeAutostart(const std::string& file, const std::string& menuEntry,
                                          const std::string& executable);

// Removes the file; one that is not there is fine.
std::optional<std::string> removeAutostart(const std::string& file);

// The running program's file: the target of /proc/self/exe without a
// trailing " (deleted)"; empty when it cannot be read.
std::string runningExecutable();

// The installed menu entry, ../share/applications/pelorus.desktop beside the
// executable, else the copy in the source tree.
std::string menuEntryFile();

// The path as one argument of an Exec value: quoted when it holds a
// reserved character, '%' doubled, then escaped as a string value. Nothing
// for a path that is not absolute or holds a control character, a
// bidirectional control or bytes that are not UTF-8.
std::optional<std::string> execArgument(std::string_view path);

} // namespace MAIL
