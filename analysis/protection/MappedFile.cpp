#include "analysis/protection/MappedFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace MAIL {

MappedFile::Mapped MappedFile::map(const char* path)
{
    release();
    // O_NONBLOCK so that a FIFO cannot hang the open; it is refused below.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? Mapped::Missing : Mapped::Unreadable;
    struct stat info{};
    Mapped result = Mapped::Unreadable;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        const auto size = static_cast<std::size_t>(info.st_size);
        if (size == 0) {
            result = Mapped::Yes;
        } else if (void* at = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0); at != MAP_FAILED) {
            // The walk goes front to back.
            ::madvise(at, size, MADV_SEQUENTIAL);
            data_ = static_cast<const std::uint8_t*>(at);
            size_ = size;
            mapped_ = true;
            result = Mapped::Yes;
        }
    }
    ::close(fd);
    return result;
}

void MappedFile::release()
{
    if (mapped_)
        ::munmap(const_cast<std::uint8_t*>(data_), size_);
    data_ = nullptr;
    size_ = 0;
    mapped_ = false;
}

} // namespace MAIL
