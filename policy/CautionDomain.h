// CautionDomain: the file of caution domains, "CautionDomain.pel" in the
// application's config folder.
//
// Each entry is a text searched for inside recipient addresses, ASCII case
// ignored (PatternList::isCautionDomain); a recipient whose address holds
// one always needs the user's confirmation, even when fully trusted. An
// empty entry matches nothing. A missing file is an empty list.
#pragma once

#include "policy/PlainListFile.h"

namespace MAIL {

class CautionDomain : public PlainListFile {
public:
    static constexpr const char* FileName = "CautionDomain.pel";

    // Locates the file, creating its folder when missing.
    CautionDomain();
    ~CautionDomain() override;
};

} // namespace MAIL
