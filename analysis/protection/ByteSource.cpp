#include "analysis/protection/ByteSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace MAIL {

bool ByteSource::readExactly(std::uint64_t offset, std::span<std::uint8_t> into) const
{
    return readAt(offset, into) == static_cast<std::int64_t>(into.size());
}

std::int64_t MemorySource::readAt(std::uint64_t offset, std::span<std::uint8_t> into) const
{
    if (offset >= bytes_.size())
        return 0;
    const std::size_t count = std::min<std::uint64_t>(into.size(), bytes_.size() - offset);
    std::memcpy(into.data(), bytes_.data() + offset, count);
    return static_cast<std::int64_t>(count);
}

FileSource::~FileSource()
{
    if (fd_ >= 0)
        ::close(fd_);
}

FileSource::Opened FileSource::open(const char* path)
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    size_ = 0;
    // O_NONBLOCK: opening a FIFO named like an attachment must not hang the
    // session; it has no effect on the regular files we go on to read.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? Opened::Missing : Opened::Unreadable;
    struct stat info{};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return Opened::Unreadable;
    }
    fd_ = fd;
    size_ = static_cast<std::uint64_t>(info.st_size);
    return Opened::Yes;
}

std::int64_t FileSource::readAt(std::uint64_t offset, std::span<std::uint8_t> into) const
{
    if (fd_ < 0)
        return -1;
    if (offset >= size_)
        return 0;
    std::size_t done = 0;
    while (done < into.size()) {
        const ssize_t got = ::pread(fd_, into.data() + done, into.size() - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

} // namespace MAIL
