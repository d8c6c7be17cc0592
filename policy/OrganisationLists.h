// OrganisationLists: the copies of the list files that an organisation's
// administrators install for every user. Pelorus reads them and never
// writes them.
//
// They live in "Pelorus" under each folder of $XDG_CONFIG_DIRS (':'-
// separated; /etc/xdg when unset or empty). Only absolute folders count, each
// once, at most MaximumFolders of them; a folder that is the user's own
// config folder is no organisation folder.
//
// A file there is read only when it is a regular file (a link is refused)
// and both it and its folder belong to root or to the user running Pelorus
// and are writable by nobody else (no group or other write bit). Anyone
// else who could change such a file could open the gate: a blank line in
// the authorized domains authorizes everyone. A refused file is ignored with
// an ERROR log line each time, and its path is reported once per process
// through reportIgnoredOrganisationFiles, for one warning balloon.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace MAIL {

constexpr int MaximumOrganisationFolders = 16;

// The "Pelorus" folders to look in, in $XDG_CONFIG_DIRS order.
std::vector<std::string> organisationFolders();

// Calls read with an open descriptor and the path of every organisation
// copy of fileName that may be read, in folder order. className names the
// caller in log lines.
void forEachOrganisationFile(const char* fileName, const char* className,
                             const std::function<void(int fd, const std::string& path)>& read);

// Hands warn one text per refused organisation file not reported before.
void reportIgnoredOrganisationFiles(const std::function<void(std::string_view text)>& warn);

} // namespace MAIL
