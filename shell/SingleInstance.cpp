#include "shell/SingleInstance.h"

#include "foundation/FileFolder.h"
#include "foundation/UserFolders.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace MAIL {

namespace {
constexpr const char* LockName = "_Pelorus_Mutex_object_";
}

std::string singleInstanceLockPath()
{
    std::string folder = runtimeFolder();
    if (folder.empty())
        folder = applicationConfigFolder();
    if (folder.empty())
        folder = "Pelorus";
    return folder + "/" + LockName;
}

std::unique_ptr<Mutex> takeSingleInstanceLock()
{
    const std::string path = singleInstanceLockPath();
    FileFolder(path).create();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        std::fprintf(stderr, "Pelorus: cannot open the lock file %s (%s); running without the single-instance guard.\n",
                     path.c_str(), std::strerror(errno));
        return std::make_unique<Mutex>();
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<Mutex>(fd, LockName);
}

} // namespace MAIL
