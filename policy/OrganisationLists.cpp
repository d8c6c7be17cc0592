#include "policy/OrganisationLists.h"

#include "config/LogWriter.h"
#include "foundation/FileDescriptor.h"
#include "foundation/UserFolders.h"
#include "foundation/VisibleText.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <set>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace MAIL {

namespace {

constexpr const char* DefaultFolders = "/etc/xdg";

std::mutex reportLock;
std::set<std::string> reported;  // refused paths, each shown once
std::vector<std::string> waiting;

void refuse(const char* className, const std::string& path, const std::string& why)
{
    error(getLogWriter(), "%s#loadOrganisation,1,Ignored %s: %s", className, path.c_str(), why.c_str());
    std::lock_guard guard(reportLock);
    if (reported.insert(path).second)
        waiting.push_back(path);
}

// Why a file or folder may not be trusted, or empty when it may.
std::string distrust(const struct stat& info, const char* what)
{
    if (info.st_uid != 0 && info.st_uid != ::geteuid())
        return std::string(what) + " belongs to another user";
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return std::string(what) + " is writable by group or others";
    return {};
}

bool sameFolder(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

} // namespace

std::vector<std::string> organisationFolders()
{
    const char* variable = std::getenv("XDG_CONFIG_DIRS");
    const std::string_view value = variable != nullptr && variable[0] != '\0' ? variable : DefaultFolders;
    std::vector<std::string> folders;
    std::size_t start = 0;
    while (start <= value.size() && folders.size() < static_cast<std::size_t>(MaximumOrganisationFolders)) {
        const std::size_t end = std::min(value.find(':', start), value.size());
        const std::string_view folder = value.substr(start, end - start);
        start = end + 1;
        if (folder.empty() || folder.front() != '/' || folder.size() > PATH_MAX - sizeof "/Pelorus/")
            continue;
        std::string path = std::string(folder) + "/Pelorus";
        if (std::find(folders.begin(), folders.end(), path) == folders.end())
            folders.push_back(std::move(path));
    }
    return folders;
}

void forEachOrganisationFile(const char* fileName, const char* className,
                             const std::function<void(int fd, const std::string& path)>& read)
{
    struct stat own{};
    const std::string ownFolder = applicationConfigFolder();
    const bool haveOwn = !ownFolder.empty() && ::stat(ownFolder.c_str(), &own) == 0;
    for (const std::string& folder : organisationFolders()) {
        const std::string path = folder + "/" + fileName;
        // The folder as it is (a link to it is followed): what is checked
        // is the folder the file is then opened in.
        const FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat folderInfo{};
        if (!directory.isOpen() || ::fstat(directory.get(), &folderInfo) != 0)
            continue;
        if (haveOwn && sameFolder(folderInfo, own))
            continue;  // the user's own lists, already read as such
        struct stat entry{};
        if (::fstatat(directory.get(), fileName, &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                refuse(className, path, std::error_code(errno, std::generic_category()).message());
            continue;
        }
        std::string why = distrust(folderInfo, "its folder");
        if (why.empty() && S_ISLNK(entry.st_mode))
            why = "it is a symbolic link";
        else if (why.empty() && !S_ISREG(entry.st_mode))
            why = "it is not a regular file";
        if (!why.empty()) {
            refuse(className, path, why);
            continue;
        }
        // Judged again on what was opened: the file may have been replaced.
        const FileDescriptor file(
            ::openat(directory.get(), fileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat fileInfo{};
        if (!file.isOpen() || ::fstat(file.get(), &fileInfo) != 0) {
            if (errno != ENOENT)
                refuse(className, path, std::error_code(errno, std::generic_category()).message());
            continue;
        }
        why = S_ISREG(fileInfo.st_mode) ? distrust(fileInfo, "it") : "it is not a regular file";
        if (!why.empty()) {
            refuse(className, path, why);
            continue;
        }
        read(file.get(), path);
    }
}

void reportIgnoredOrganisationFiles(const std::function<void(std::string_view text)>& warn)
{
    std::vector<std::string> paths;
    {
        std::lock_guard guard(reportLock);
        paths.swap(waiting);
    }
    for (const std::string& path : paths)
        warn("Ignored the organisation-wide list " + visibleText(path, false) +
             ": it and its folder must belong to root or to you, and be writable by no one else.");
}

} // namespace MAIL
