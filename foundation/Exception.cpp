#include "foundation/Exception.h"

#include "foundation/Diagnostics.h"

#include <cstdarg>
#include <cstdio>

namespace MAIL {

Exception::Exception(int code, const char* format, ...) : code_(code)
{
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    // vsnprintf cuts at MessageSize - 1 bytes and always terminates.
    std::vsnprintf(message_, sizeof message_, format, args);
    va_end(args);
}

Exception::~Exception() = default;

void Exception::dump()
{
    diagnostic("%s\n", message_);
    if (code_ != 0)
        diagnostic("Code:%d\n", code_);
}

} // namespace MAIL
