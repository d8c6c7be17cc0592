// TrustedDomain: the file of authorized domains, "TrustedDomain.pel" in the
// application's config folder.
//
// Each entry is a text searched for inside recipient addresses
// (PatternList::isAllowedDomain); a recipient whose address contains none
// is shown as unauthorized. A missing file is an empty list and stays
// missing. A file that exists but yields no entry is seeded from the
// legacy setting Allowed: its ';'-separated tokens, trimmed, become the
// entries of the load and are written to the file, as long as the file is
// still without entries when the write runs (so seeding never adds to a
// list the user has saved in the meantime). Empty tokens are entries too,
// and an empty entry authorizes every address.
#pragma once

#include "policy/ListFile.h"
#include "policy/PatternList.h"

namespace MAIL {

class TrustedDomain : public ListFile {
public:
    static constexpr const char* FileName = "TrustedDomain.pel";

    // Locates the file, creating its folder when missing.
    TrustedDomain();
    ~TrustedDomain() override;

    // Appends the file's entries at the tail, in file order, seeding an
    // existing file without entries; returns how many entries were added
    // (the seeded tokens when seeding ran).
    int load(LinkedList& list);
    // As above, adding each entry at the head, and then the entries of the
    // organisation-wide copies.
    int load(PatternList& list);

    // Adds to the file every element with text that the file does not hold
    // yet, after the lines it has. False when the file cannot be read
    // completely or written.
    bool add(const LinkedList& entries);

    // True when an element of list equals text byte for byte.
    bool isContained(const LinkedList& list, const char* text) const;

    // Writes the count and the numbered entries (after seeding) as
    // diagnostics.
    void dump() override;

private:
    // Seeds from Allowed: every token goes to target, and to the file when
    // it still has no entries. Returns the number of tokens.
    int seed(const std::function<void(const String&)>& target);
    bool addMissing(const LinkedList& entries, bool onlyToAnEmptyFile);
};

} // namespace MAIL
