#include "foundation/StringBuffer.h"

#include "foundation/Exception.h"

#include <climits>
#include <new>

namespace MAIL {

StringBuffer::StringBuffer(int capacity, int increment)
    : capacity_(capacity < 0 ? 0 : capacity), increment_(increment < 1 ? 1 : increment)
{
    try {
        buffer_.assign(static_cast<std::size_t>(capacity_) + 1, '\0');
    } catch (const std::bad_alloc&) {
        throw Exception(Exception::OutOfMemory, "StringBuffer#StringBuffer,1,Failed to allocate memory");
    }
}

bool StringBuffer::grow()
{
    if (capacity_ > INT_MAX - 1 - increment_)
        return false;
    try {
        buffer_.resize(static_cast<std::size_t>(capacity_ + increment_) + 1, '\0');
    } catch (const std::bad_alloc&) {
        return false;
    }
    capacity_ += increment_;
    return true;
}

bool StringBuffer::append(char c)
{
    if (length_ >= capacity_ && !grow())
        return false;
    buffer_[static_cast<std::size_t>(length_++)] = c;
    buffer_[static_cast<std::size_t>(length_)] = '\0';
    return true;
}

bool StringBuffer::append(const char* text)
{
    if (text == nullptr)
        return true;
    return append(std::string_view(text));
}

bool StringBuffer::append(std::string_view text)
{
    bool ok = true;
    for (char c : text)
        ok = append(c);
    return ok;
}

void StringBuffer::reset()
{
    length_ = 0;
    std::fill(buffer_.begin(), buffer_.end(), '\0');
}

} // namespace MAIL
