// ClientReader: the mail client's byte stream, as command lines or as data.
//
// Commands are lines ending at LF (CR LF, or a bare LF as servers accept
// it); a line is kept across receives until it is whole, so a pipelined batch
// gives its commands one by one. A line over 64 KiB is refused, and memory
// stays bounded by that: one buffer of a longest line plus one receive,
// allocated at the first receive and never cleared (only the bytes received
// are ever read). In the data stage the same buffer is read as bytes, so
// whatever follows the end of the data stays for the next command.
#pragma once

#include "relay/Socket.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace MAIL {

class ClientReader {
public:
    static constexpr std::size_t MaximumLine = 64 * 1024;
    static constexpr std::size_t ReceiveSize = 128 * 1024;

    enum class Status { Ok, Closed, Failed, TimedOut, TooLong };

    explicit ClientReader(Socket& socket) : socket_(socket) {}

    // The next line, terminator included.
    Status readLine(std::string& line, int timeoutMilliseconds);

    // Bytes already received and not yet taken; receives when there are none.
    Status available(std::string_view& bytes, int timeoutMilliseconds);
    // Marks n of the available bytes as taken.
    void consume(std::size_t n);
    // Takes and drops exactly n bytes (what follows a refused BDAT).
    Status discard(std::size_t n, int timeoutMilliseconds);

    bool hasBuffered() const { return start_ < end_; }
    // A whole line already received, terminator included, without waiting
    // or taking it (consume() takes it); empty when none is there yet.
    std::string_view bufferedLine() const;

private:
    static constexpr std::size_t Capacity = MaximumLine + ReceiveSize;

    Status fill(int timeoutMilliseconds);
    std::string_view unread() const { return {buffer_.get() + start_, end_ - start_}; }

    Socket& socket_;
    std::unique_ptr<char[]> buffer_;  // Capacity bytes once the first receive comes
    std::size_t start_ = 0;           // the unread bytes are [start_, end_)
    std::size_t end_ = 0;
};

} // namespace MAIL
