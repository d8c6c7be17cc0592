// UserFolders: the per-user folders every subsystem uses.
//
//   config  = $XDG_CONFIG_HOME, else ~/.config        (settings, list files)
//   state   = $XDG_STATE_HOME,  else ~/.local/state   (the log)
//   cache   = $XDG_CACHE_HOME,  else ~/.cache         (spool, without $TEMP)
//   runtime = $XDG_RUNTIME_DIR, else none             (single-instance lock)
//
// A variable counts only when set, non-empty and absolute. HOME is $HOME when
// absolute, else the password database's entry for the real user. An empty
// result means the folder cannot be found.
#pragma once

#include <string>

namespace MAIL {

std::string homeFolder();
std::string configFolder();
std::string stateFolder();
std::string cacheFolder();
std::string runtimeFolder();

// The folder of this application inside the config folder ("Pelorus"),
// where the settings file and the list files live; empty without a home.
std::string applicationConfigFolder();

} // namespace MAIL
