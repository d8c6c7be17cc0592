#include "foundation/Mutex.h"

#include <unistd.h>

namespace MAIL {

Mutex::Mutex(int descriptor, const char* name) : handle_(descriptor), name_(name) {}

Mutex::~Mutex() { release(); }

bool Mutex::release()
{
    if (handle_ < 0)
        return true;
    // Closing the last descriptor of the open file drops its flock.
    const int result = ::close(handle_);
    handle_ = -1;
    return result == 0;
}

} // namespace MAIL
