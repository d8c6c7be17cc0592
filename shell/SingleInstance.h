// SingleInstance: one Pelorus per user.
//
// The lock is the file "_Pelorus_Mutex_object_" in the runtime folder (the
// settings folder when there is none), held with flock for the life of the
// process; the kernel drops it when the process ends, however it ends.
#pragma once

#include "foundation/Mutex.h"

#include <memory>
#include <string>

namespace MAIL {

// The lock when this is the only instance; null when another one holds it.
// Throws nothing; a lock file that cannot be opened counts as held by no one
// (the program then runs without the guard and says so on standard error).
std::unique_ptr<Mutex> takeSingleInstanceLock();

// Where the lock file lives.
std::string singleInstanceLockPath();

} // namespace MAIL
