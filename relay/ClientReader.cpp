#include "relay/ClientReader.h"

namespace MAIL {

ClientReader::Status ClientReader::fill(int timeoutMilliseconds)
{
    // Drop what was taken before growing, so the buffer holds at most one
    // line (or one receive) beyond the unread bytes.
    if (start_ > 0) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    // Straight into the buffer, in large pieces: a big mail then costs few
    // receives and no extra copy.
    const std::size_t held = buffer_.size();
    buffer_.resize(held + ReceiveSize);
    const ssize_t n = socket_.receive(buffer_.data() + held, ReceiveSize, timeoutMilliseconds);
    buffer_.resize(held + static_cast<std::size_t>(n > 0 ? n : 0));
    if (n == 0)
        return Status::Closed;
    if (n < 0)
        return socket_.timedOut() ? Status::TimedOut : Status::Failed;
    return Status::Ok;
}

ClientReader::Status ClientReader::readLine(std::string& line, int timeoutMilliseconds)
{
    for (;;) {
        const std::size_t lf = buffer_.find('\n', start_);
        if (lf != std::string::npos) {
            if (lf + 1 - start_ > MaximumLine)
                return Status::TooLong;
            line.assign(buffer_, start_, lf + 1 - start_);
            start_ = lf + 1;
            return Status::Ok;
        }
        if (buffer_.size() - start_ > MaximumLine)
            return Status::TooLong;
        const Status status = fill(timeoutMilliseconds);
        if (status != Status::Ok)
            return status;
    }
}

ClientReader::Status ClientReader::available(std::string_view& bytes, int timeoutMilliseconds)
{
    if (start_ >= buffer_.size()) {
        const Status status = fill(timeoutMilliseconds);
        if (status != Status::Ok)
            return status;
    }
    bytes = std::string_view(buffer_).substr(start_);
    return Status::Ok;
}

void ClientReader::consume(std::size_t n) { start_ = std::min(buffer_.size(), start_ + n); }

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
