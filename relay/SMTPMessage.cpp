#include "relay/SMTPMessage.h"

#include "config/LogWriter.h"
#include "foundation/FileFolder.h"
#include "foundation/Guid.h"
#include "foundation/UserFolders.h"

#include <cerrno>
#include <cstdlib>

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

bool SMTPMessage::ensureSpoolFolder(const std::string& folder)
{
    if (folder.empty())
        return false;
    struct stat info{};
    if (::lstat(folder.c_str(), &info) != 0) {
        if (!MAIL::FileFolder(folder + "/").create())
            return false;
        if (::lstat(folder.c_str(), &info) != 0)
            return false;
    }
    // Another local user must not be able to plant the folder or a link.
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        return false;
    if ((info.st_mode & 07777) != 0700 && ::chmod(folder.c_str(), 0700) != 0)
        return false;
    return true;
}

void SMTPMessage::initialize()
{
    MAIL::debug(getLogWriter(), "SMTPMessage#initialize,1,Start");
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!path_.empty())
        ::unlink(path_.c_str());
    path_.clear();
    created_ = false;
    failed_ = false;

    std::string id;
    MAIL::Guid().generate(id);
    const std::string folder = spoolFolder();
    if (ensureSpoolFolder(folder)) {
        path_ = folder + "/" + id + ".msg";
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            created_ = true;
            MAIL::debug(getLogWriter(), "SMTPMessage#initialize,2,opened a file %s", path_.c_str());
        } else {
            path_.clear();
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
    while (!chunk.empty()) {
        const ssize_t n = ::write(fd_, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A disk that refuses a write will not take it on a retry:
            // the mail stays incomplete and is refused, never sent short.
            failed_ = true;
            return false;
        }
        chunk.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
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
