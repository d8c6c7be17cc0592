#include "relay/Socket.h"

#include <cerrno>
#include <chrono>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace MAIL {

namespace {

using Clock = std::chrono::steady_clock;

// Polls one descriptor for the events; true when one of them (or an error
// or hang-up, which the next call will report) is pending.
bool waitFor(int fd, short events, int milliseconds)
{
    if (fd < 0)
        return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds);
    for (;;) {
        pollfd entry{fd, events, 0};
        int wait = milliseconds;
        if (milliseconds >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            wait = left.count() < 0 ? 0 : static_cast<int>(left.count());
        }
        const int rc = ::poll(&entry, 1, wait);
        if (rc > 0)
            return true;
        if (rc == 0)
            return false;
        if (errno != EINTR)
            return false;
    }
}

} // namespace

Socket::~Socket() { close(); }

bool Socket::close()
{
    if (handle_ < 0)
        return false;
    ::shutdown(handle_, SHUT_RDWR);
    ::close(handle_);
    handle_ = -1;
    return true;
}

int Socket::shutdown(int how) { return handle_ < 0 ? -1 : ::shutdown(handle_, how); }

bool Socket::waitReadable(int milliseconds) { return waitFor(handle_, POLLIN, milliseconds); }

bool Socket::waitWritable(int milliseconds) { return waitFor(handle_, POLLOUT, milliseconds); }

ssize_t Socket::receive(char* buffer, std::size_t size, int milliseconds)
{
    timedOut_ = false;
    if (handle_ < 0 || buffer == nullptr)
        return -1;
    for (;;) {
        if (!waitReadable(milliseconds)) {
            timedOut_ = true;
            return -1;
        }
        const ssize_t n = ::recv(handle_, buffer, size, 0);
        if (n >= 0)
            return n;
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
            continue;
        return -1;  // a reset or any hard failure ends the call
    }
}

ssize_t Socket::sendAll(const char* data, std::size_t length, int seconds)
{
    timedOut_ = false;
    if (handle_ < 0)
        return -1;
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    std::size_t sent = 0;
    while (sent < length) {
        // Send first: a command or a reply nearly always fits the socket
        // buffer, and waiting only when it is full saves a poll per line.
        const ssize_t n = ::send(handle_, data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The limit holds also while the peer stops reading.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || !waitWritable(static_cast<int>(left.count()))) {
                timedOut_ = true;
                return -2;
            }
            continue;
        }
        return -2;  // the connection failed with bytes unsent
    }
    return static_cast<ssize_t>(sent);
}

} // namespace MAIL
