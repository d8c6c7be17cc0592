// PlainListFile: a list file that is read as it stands, with no seeding:
// the fully trusted recipients and the two caution lists. Reading, writing
// and locking are those of ListFile.
#pragma once

#include "policy/ListFile.h"
#include "policy/PatternList.h"

namespace MAIL {

class PlainListFile : public ListFile {
public:
    // Appends the user's entries at the tail, in file order; returns how
    // many. The organisation-wide ones come from loadOrganisation.
    int load(LinkedList& list) const;
    // Adds the user's entries and then the organisation-wide ones at the
    // head; returns how many in all.
    int load(PatternList& list) const;

    // Writes the count and the numbered entries of the user's file as
    // diagnostics.
    void dump() override;

protected:
    PlainListFile(const char* fileName, const char* className);
    ~PlainListFile() override;
};

} // namespace MAIL
