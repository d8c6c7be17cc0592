// Guid: a new random identifier in its 38-character braced text form,
// "{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}" in upper case (version 4, from
// the system's random source). Spool files are named by one.
#pragma once

#include "foundation/Object.h"
#include "foundation/String.h"

#include <string>

namespace MAIL {

class Guid : public Object {
public:
    // Writes a new identifier; false (output unchanged) when the random
    // source fails.
    bool generate(String& text);
    bool generate(std::string& text);
};

} // namespace MAIL
