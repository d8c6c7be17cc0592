#include "relay/ClientReader.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace MAIL {

ClientReader::Status ClientReader::fill(int timeoutMilliseconds)
{
    if (!buffer_)
        buffer_ = std::make_unique_for_overwrite<char[]>(Capacity);
    // Move the unread bytes to the front, so a whole receive fits behind
    // them: callers fill only with at most a longest line unread.
    if (start_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    assert(end_ <= MaximumLine);
    // Straight into the buffer, in large pieces: a big mail then costs few
    // receives and no extra copy.
    const ssize_t n =
        socket_.receive(buffer_.get() + end_, std::min(ReceiveSize, Capacity - end_), timeoutMilliseconds);
    if (n == 0)
        return Status::Closed;
    if (n < 0)
        return socket_.timedOut() ? Status::TimedOut : Status::Failed;
    end_ += static_cast<std::size_t>(n);
    return Status::Ok;
}

ClientReader::Status ClientReader::readLine(std::string& line, int timeoutMilliseconds)
{
    for (;;) {
        const std::string_view bytes = unread();
        const std::size_t lf = bytes.find('\n');
        if (lf != std::string_view::npos) {
            if (lf + 1 > MaximumLine)
                return Status::TooLong;
            line.assign(bytes.substr(0, lf + 1));
            start_ += lf + 1;
            return Status::Ok;
        }
        if (bytes.size() > MaximumLine)
            return Status::TooLong;
        const Status status = fill(timeoutMilliseconds);
        if (status != Status::Ok)
            return status;
    }
}

ClientReader::Status ClientReader::available(std::string_view& bytes, int timeoutMilliseconds)
{
    if (start_ >= end_) {
        const Status status = fill(timeoutMilliseconds);
        if (status != Status::Ok)
            return status;
    }
    bytes = unread();
    return Status::Ok;
}

std::string_view ClientReader::bufferedLine() const
{
    if (!buffer_)
        return {};
    const std::string_view bytes = unread();
    const std::size_t lf = bytes.find('\n');
    if (lf == std::string_view::npos || lf + 1 > MaximumLine)
        return {};
    return bytes.substr(0, lf + 1);
}

void ClientReader::consume(std::size_t n) { start_ = std::min(end_, start_ + n); }

ClientReader::Status ClientReader::discard(std::size_t n, int timeoutMilliseconds)
{
    while (n > 0) {
        std::string_view bytes;
        const Status status = available(bytes, timeoutMilliseconds);
        if (status != Status::Ok)
            return status;
        const std::size_t taken = std::min(n, bytes.size());
        consume(taken);
        n -= taken;
    }
    return Status::Ok;
}

} // namespace MAIL
