// Runs a check as an ordinary user. Our users are not root, but the suite
// may run as root, for whom file modes mean nothing: a test of a read-only
// folder must then drop privileges to see what a user sees.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace pelorus::test {

// Runs check in a child process; when the suite runs as root, the child
// first gives the folders in `owned` (recursively) to nobody and becomes
// nobody. Returns the child's result: 0 for success, any other number for
// the failed step (check's own return value), or -1 when the child could
// not run. Call it while the test process has no other threads.
int runAsUser(const std::function<int()>& check, const std::vector<std::string>& owned = {});

bool runningAsRoot();

} // namespace pelorus::test
