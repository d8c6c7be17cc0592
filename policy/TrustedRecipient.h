// TrustedRecipient: the file of fully trusted recipients,
// "TrustedRecipient.plx" in the application's config folder.
//
// Each entry is an address, optionally with a display name and angle
// brackets; a mail whose recipients all match an entry passes without the
// confirmation dialog (PatternList::isTrustedRecipient), unless a caution
// applies. A missing file is an empty list, which trusts nobody.
#pragma once

#include "policy/PlainListFile.h"

namespace MAIL {

class TrustedRecipient : public PlainListFile {
public:
    static constexpr const char* FileName = "TrustedRecipient.plx";

    // Locates the file, creating its folder when missing.
    TrustedRecipient();
    ~TrustedRecipient() override;
};

} // namespace MAIL
