#include "analysis/message/MIMEFile.h"

#include "analysis/message/AttachmentFileName.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

MIMEFile::MIMEFile(const char* name)
{
    if (name != nullptr)
        name_ = MAIL::String(std::string(cutUtf8(name, MaxText)).c_str());
}

MIMEFile::~MIMEFile() { close(); }

bool MIMEFile::open(const char* path) { return openIn(AT_FDCWD, path, path); }

bool MIMEFile::openIn(int folder, const char* fileName, const char* path)
{
    if (fd_ >= 0 || fileName == nullptr || path == nullptr || std::strlen(path) > MaxText)
        return false;
    const int fd = ::openat(folder, fileName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    fd_ = fd;
    path_ = MAIL::String(path);
    return true;
}

std::size_t MIMEFile::write(const void* bytes, std::size_t count)
{
    if (fd_ < 0 || bytes == nullptr || count == 0)
        return 0;
    const auto* data = static_cast<const char*>(bytes);
    std::size_t written = 0;
    while (written < count) {
        const ssize_t n = ::write(fd_, data + written, count - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    return written;
}

bool MIMEFile::close()
{
    if (fd_ < 0)
        return false;
    ::close(fd_);
    fd_ = -1;
    return true;
}
