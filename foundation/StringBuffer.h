// StringBuffer: a growable byte buffer for building tokens and messages.
//
// The buffer always holds capacity + 1 bytes, zero beyond the content, so
// getBuffer() is a NUL-terminated text at any time. It grows by the fixed
// increment; a growth that cannot be allocated makes append() return false
// and leaves content and capacity as they were.
#pragma once

#include "foundation/Object.h"

#include <string_view>
#include <vector>

namespace MAIL {

class StringBuffer : public Object {
public:
    StringBuffer(int capacity, int increment);

    // Appends one byte, growing first when full.
    bool append(char c);
    // Appends each byte of a NUL-terminated text; null is a success.
    bool append(const char* text);
    // Appends the bytes of a view (NULs included).
    bool append(std::string_view text);

    // Empties the buffer; the capacity keeps any growth.
    void reset();

    const char* getBuffer() const { return buffer_.data(); }
    int getLength() const { return length_; }
    int getCapacity() const { return capacity_; }
    std::string_view view() const { return {buffer_.data(), static_cast<std::size_t>(length_)}; }

private:
    bool grow();

    std::vector<char> buffer_;
    int capacity_;
    int increment_;
    int length_ = 0;
};

} // namespace MAIL
