// The log of the message tests: every test of this executable runs with the
// shared log writer at level 3 (everything), writing into a private folder,
// so tests can look for the lines the classes write.
#pragma once

#include <string>

namespace pelorus::test {

// Everything logged since the last clearMessageLog().
std::string messageLog();
void clearMessageLog();

} // namespace pelorus::test
