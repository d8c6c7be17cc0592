// Mutex: a holder for one lock handle.
//
// No operation of the class creates a handle; a lock taken elsewhere (the
// single-instance lock file, held with flock) is handed over to it and
// released, with its descriptor closed, by release() or the destructor.
#pragma once

#include "foundation/Object.h"
#include "foundation/String.h"

namespace MAIL {

class Mutex : public Object {
public:
    Mutex() = default;
    // Takes over an open descriptor that holds a lock, and its name.
    Mutex(int descriptor, const char* name);
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    ~Mutex() override;

    // Releases the lock and closes the handle when one is held; true when
    // nothing was held or the close succeeded.
    bool release();

    int getHandle() const { return handle_; }
    const String& getName() const { return name_; }

private:
    int handle_ = -1;
    String name_;
};

} // namespace MAIL
