#include "analysis/message/AttachedFiles.h"

#include "analysis/message/AttachmentWalk.h"
#include "analysis/message/EncodedWords.h"
#include "config/LogWriter.h"
#include "foundation/FileDescriptor.h"

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using Descriptor = MAIL::FileDescriptor;
} // namespace

AttachedFiles::AttachedFiles(const char* spoolPath, const char* boundary)
    : spoolPath_(spoolPath != nullptr ? spoolPath : "")
{
    if (boundary != nullptr && boundary[0] != '\0') {
        boundaryLine_ = std::string("--") + boundary;
        closingLine_ = boundaryLine_ + "--";
    }
    folder_ = spoolPath_ + "_attached";
    if (!spoolPath_.empty())
        ::mkdir(folder_.c_str(), 0700);  // an existing folder, or a failure, is fine here
}

AttachedFiles::~AttachedFiles() { clear(); }

bool AttachedFiles::parse(MAIL::LinkedList& list)
{
    if (boundaryLine_.empty() || spoolPath_.empty())
        return false;
    const Descriptor spool(::open(spoolPath_.c_str(), O_RDONLY | O_CLOEXEC));
    if (spool.get() < 0)
        return false;
    // Files are created relative to the folder itself, which must be a real
    // folder (not a link), so that no name can put a file anywhere else.
    const Descriptor folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    AttachmentWalk walk(list, checker_, folder.get(), folder_, boundaryLine_.substr(2), MaxDepth);
    walk.run(spool.get());
    return true;
}

void AttachedFiles::clear()
{
    MAIL::LogWriter* log = MAIL::getLogWriter();
    const std::string pattern = folder_ + "/*";
    MAIL::debug(log, "AttachedFilels#clear,1,pattern=%s", pattern.c_str());
    const int fd = spoolPath_.empty() ? -1 : ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (dir == nullptr) {
        if (fd >= 0)
            ::close(fd);
        MAIL::debug(log, "AttachedFilels#clear,1-1,No hitting files for= %s", pattern.c_str());
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info {};
        if (::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode))
            continue;
        const std::string path = folder_ + "/" + name;
        if (::unlinkat(fd, name.c_str(), 0) == 0)
            MAIL::debug(log, "AttachedFilels#clear,1,OK.Deleted %s", path.c_str());
        else
            MAIL::debug(log, "AttachedFilels#clear,3,Failed to delete %s", path.c_str());
    }
    ::closedir(dir);
    if (::rmdir(folder_.c_str()) == 0)
        MAIL::debug(log, "AttachedFilels#clear,4,OK.Deleted %s", folder_.c_str());
    else
        MAIL::error(log, "AttachedFilels#clear,5,Failed to delete %s", folder_.c_str());
}

std::unique_ptr<char[]> AttachedFiles::decodeWords(const char* text) const { return MAIL::decodeWords(text); }
