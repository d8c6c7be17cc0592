#include "analysis/protection/ProtectionChecker.h"

namespace MAIL {

// Placeholder until the checks exist: nothing is judged protected.
bool ProtectionChecker::check(const char* /*path*/, ProtectionKind& /*kind*/) { return false; }

} // namespace MAIL
