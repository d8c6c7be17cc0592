// TrustedRecipient: the file of fully trusted recipients,
// "TrustedRecipient.plx" in the application's config folder.
//
// Each entry is an address, optionally with a display name and angle
// brackets; a mail whose recipients all match an entry passes without the
// confirmation dialog (PatternList::isTrustedRecipient). A missing file is
// an empty list, which trusts nobody. Reading, writing and locking are
// those of ListFile.
#pragma once

#include "policy/ListFile.h"
#include "policy/PatternList.h"

namespace MAIL {

class TrustedRecipient : public ListFile {
public:
    static constexpr const char* FileName = "TrustedRecipient.plx";

    // Locates the file, creating its folder when missing.
    TrustedRecipient();
    ~TrustedRecipient() override;

    // Appends the file's entries at the tail, in file order; returns how many.
    int load(LinkedList& list) const;
    // Adds the file's entries at the head; returns how many.
    int load(PatternList& list) const;

    // Writes the count and the numbered entries as diagnostics.
    void dump() override;
};

} // namespace MAIL
