// Exception: the error the foundation classes raise.
//
// It carries a formatted message of at most 2047 bytes and an integer code
// (0 means none; -13 is every allocation failure). Everything above the
// foundation raises bare integer codes instead. The message is formatted
// printf-style; text that came from a peer or a file must be passed as an
// argument, never as the format.
#pragma once

#include "foundation/Object.h"

#include <cstddef>

namespace MAIL {

class Exception : public Object {
public:
    static constexpr std::size_t MessageSize = 2048;
    static constexpr int OutOfMemory = -13;

    [[gnu::format(printf, 3, 4)]] Exception(int code, const char* format, ...);
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;
    ~Exception() override;

    const char* getMessage() const { return message_; }
    int getCode() const { return code_; }

    // Writes the message, and "Code:%d" when there is a code, as diagnostics.
    void dump() override;

private:
    char message_[MessageSize] = {};
    int code_ = 0;
};

} // namespace MAIL
