#include "analysis/message/SpoolLineReader.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace {

// Large reads: a 25 MB spool file is read in a few dozen calls.
constexpr std::size_t ReadSize = 1024 * 1024;

} // namespace

SpoolLineReader::SpoolLineReader(int fd) : fd_(fd), buffer_(ReadSize + MaxPiece) {}

bool SpoolLineReader::fill()
{
    if (eof_)
        return false;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            eof_ = true;
            return false;
        }
        end_ += static_cast<std::size_t>(n);
        return true;
    }
}

bool SpoolLineReader::next(Piece& piece)
{
    for (;;) {
        const std::size_t available = end_ - begin_;
        const char* start = buffer_.data() + begin_;
        const std::size_t window = available < MaxPiece ? available : MaxPiece;
        const auto* lf = static_cast<const char*>(std::memchr(start, '\n', window));
        if (lf != nullptr || available >= MaxPiece || (eof_ && available > 0)) {
            std::size_t length = lf != nullptr ? static_cast<std::size_t>(lf - start) : window;
            std::size_t consumed = lf != nullptr ? length + 1 : length;
            if (lf == nullptr && !eof_ && length > 1 && start[length - 1] == '\r') {
                --length;  // keep a CR with the LF that may follow it
                --consumed;
            }
            if (lf != nullptr && length > 0 && start[length - 1] == '\r')
                --length;
            piece.text = std::string_view(start, length);
            piece.lineStart = atLineStart_;
            piece.lineEnd = lf != nullptr || (eof_ && consumed == available);
            atLineStart_ = piece.lineEnd;
            begin_ += consumed;
            return true;
        }
        if (!fill())
            if (end_ == begin_)
                return false;
    }
}
