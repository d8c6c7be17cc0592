#include "foundation/PrivateFiles.h"

#include "foundation/FileFolder.h"

#include <map>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace MAIL {

namespace {

// The in-process lock of one path; entries live as long as the process.
std::mutex& pathLock(const std::string& path)
{
    static std::mutex tableLock;
    static std::map<std::string, std::mutex> locks;
    std::lock_guard guard(tableLock);
    return locks[path];
}

} // namespace

TemporaryFile::~TemporaryFile()
{
    if (!name_.empty()) {
        const int saved = errno;
        ::unlink(name_.c_str());
        errno = saved;
    }
}

bool TemporaryFile::create(const std::string& beside)
{
    std::string name = beside + ".XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);  // O_EXCL: never through a link
    if (fd < 0)
        return false;
    fd_.reset(fd);
    name_ = std::move(name);
    return true;
}

bool TemporaryFile::commit(const std::string& target, bool flush)
{
    if ((flush && ::fsync(fd_.get()) != 0) || ::rename(name_.c_str(), target.c_str()) != 0)
        return false;
    name_.clear();
    return true;
}

FileLock::FileLock(const std::string& lockPath) : inProcess_(pathLock(lockPath))
{
    file_.reset(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!file_.isOpen()) {
        error_ = errno;
        return;
    }
    while (::flock(file_.get(), LOCK_EX) != 0)
        if (errno != EINTR) {
            error_ = errno;
            return;
        }
}

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

FileDescriptor openPrivateFolder(const std::string& folder)
{
    if (folder.empty()) {
        errno = ENOENT;  // no home to keep the file in
        return FileDescriptor();
    }
    struct stat info{};
    if (::lstat(folder.c_str(), &info) != 0 && !FileFolder(folder + "/").create())
        return FileDescriptor();
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.isOpen() || ::fstat(fd.get(), &info) != 0)
        return FileDescriptor();
    if (info.st_uid != ::geteuid()) {
        errno = EPERM;
        return FileDescriptor();
    }
    if ((info.st_mode & 07777) != 0700 && ::fchmod(fd.get(), 0700) != 0)
        return FileDescriptor();
    return fd;
}

} // namespace MAIL
