// PrivateFiles: how the program keeps the files it writes for the user
// alone (list files, the record of decisions, the sent-recipients history).
//
// A change never shows half done: TemporaryFile writes the new content
// beside its target (created exclusively and 0600, so never through a
// link), flushes it and renames it over the target; until commit() the
// target stays as it was, and an uncommitted file is removed again.
// FileLock serialises the changes of one file: a lock per path inside the
// process (flock alone does not order the threads of one process that open
// the lock file separately) and flock on a lock file across processes.
// openPrivateFolder() opens a folder kept private: made 0700 when missing,
// refused when it is a link, no folder or another user's, tightened to 0700.
#pragma once

#include "foundation/FileDescriptor.h"

#include <cerrno>
#include <mutex>
#include <string>
#include <string_view>

#include <unistd.h>

namespace MAIL {

class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile();

    // Creates "<beside>.XXXXXX"; false, with errno, when it cannot.
    bool create(const std::string& beside);
    int get() const { return fd_.get(); }
    // Flushes the content to disk (unless told not to) and renames the file
    // over target.
    bool commit(const std::string& target, bool flush = true);

private:
    FileDescriptor fd_;
    std::string name_;
};

// Holds the locks of one file while it lives. isHeld() is false, with
// error() the errno value, when the lock file cannot be opened or locked.
class FileLock {
public:
    // lockPath names the lock file (made 0600, never through a link).
    explicit FileLock(const std::string& lockPath);
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool isHeld() const { return error_ == 0; }
    int error() const { return error_; }

private:
    std::unique_lock<std::mutex> inProcess_;
    FileDescriptor file_;
    int error_ = 0;
};

// Writes all of data; false, with errno, when a write fails.
bool writeAll(int fd, std::string_view data);

// Reads fd to its end in chunks; consume returns false to stop early.
// False, with errno, when a read fails.
template <class Consume>
bool readAll(int fd, Consume consume)
{
    char chunk[8192];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0 || !consume(std::string_view(chunk, static_cast<std::size_t>(n))))
            return true;
    }
}

// The folder open for the *at calls; not open, with errno, when refused.
FileDescriptor openPrivateFolder(const std::string& folder);

} // namespace MAIL
