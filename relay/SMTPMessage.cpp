#include "relay/SMTPMessage.h"

#include "config/LogWriter.h"
#include "foundation/PrivateFiles.h"
#include "foundation/Guid.h"
#include "foundation/UserFolders.h"

#include <cerrno>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using MAIL::getLogWriter;

SMTPMessage::~SMTPMessage()
{
    if (fd_ >= 0 || !path_.empty())
        remove();
}

std::string SMTPMessage::spoolFolder()
{
    const char* temp = std::getenv("TEMP");
    if (temp != nullptr && temp[0] != '\0')
        return std::string(temp) + "/pelorus";
    const std::string cache = MAIL::cacheFolder();
    return cache.empty() ? std::string() : cache + "/pelorus";
}

void SMTPMessage::initialize()
{
    MAIL::debug(getLogWriter(), "SMTPMessage#initialize,1,Start");
    if (fd_ >= 0 || !path_.empty())
        remove();  // a file of an earlier mail never lingers
    failed_ = false;

    std::string id;
    MAIL::Guid().generate(id);
    // Another local user must not be able to plant the folder or a link.
    const std::string folder = spoolFolder();
    const MAIL::FileDescriptor spool = MAIL::openPrivateFolder(folder);
    if (spool.isOpen()) {
        const std::string name = id + ".msg";
        fd_ = ::openat(spool.get(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            created_ = true;
            path_ = folder + "/" + name;
            MAIL::debug(getLogWriter(), "SMTPMessage#initialize,2,opened a file %s", path_.c_str());
        }
    }
    MAIL::debug(getLogWriter(), "SMTPMessage#initialize,3,End");
}

bool SMTPMessage::writeContent(std::string_view chunk, std::string_view contentType)
{
    if (fd_ < 0) {
        failed_ = true;
        return false;
    }
    MAIL::debug(getLogWriter(), "SMTPMessage#writeContent,1,contentType=%.*s", static_cast<int>(contentType.size()),
                contentType.data());
    // A disk that refuses a write will not take it on a retry: the mail
    // stays incomplete and is refused, never sent short.
    if (MAIL::writeAll(fd_, chunk))
        return true;
    failed_ = true;
    return false;
}

void SMTPMessage::close()
{
    if (fd_ < 0)
        return;
    if (::close(fd_) != 0)
        failed_ = true;
    fd_ = -1;
}

void SMTPMessage::remove()
{
    close();
    MAIL::debug(getLogWriter(), "SMTPMessage#remove,1,Start");
    if (!path_.empty() && ::unlink(path_.c_str()) == 0)
        MAIL::debug(getLogWriter(), "SMTPMessage#remove,2,deleted a file~%s", path_.c_str());
    path_.clear();
    created_ = false;
}

namespace {

// Removes the files of an attachment folder, then the folder; never
// follows a link.
bool removeAttachmentFolder(int spool, const char* name)
{
    const int folder = ::openat(spool, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return false;
    DIR* listing = ::fdopendir(folder);
    if (listing == nullptr) {
        ::close(folder);
        return false;
    }
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view file = entry->d_name;
        if (file != "." && file != "..")
            ::unlinkat(folder, entry->d_name, 0);
    }
    ::closedir(listing);
    return ::unlinkat(spool, name, AT_REMOVEDIR) == 0;
}

} // namespace

int SMTPMessage::removeLeftovers()
{
    const std::string folder = spoolFolder();
    if (folder.empty())
        return 0;
    const int spool = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (spool < 0)
        return 0;
    struct stat info{};
    if (::fstat(spool, &info) != 0 || info.st_uid != ::geteuid()) {
        ::close(spool);
        return 0;
    }
    DIR* listing = ::fdopendir(spool);
    if (listing == nullptr) {
        ::close(spool);
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        struct stat item{};
        if (::fstatat(spool, entry->d_name, &item, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (name.ends_with(".msg") && S_ISREG(item.st_mode)) {
            removed += ::unlinkat(spool, entry->d_name, 0) == 0 ? 1 : 0;
        } else if (name.ends_with(".msg_attached") && S_ISDIR(item.st_mode)) {
            removed += removeAttachmentFolder(spool, entry->d_name) ? 1 : 0;
        }
    }
    ::closedir(listing);
    return removed;
}
