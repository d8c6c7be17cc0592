// PatternList: the in-memory list that answers the two recipient questions.
//
// isTrustedRecipient: is the address a fully trusted recipient, one whose
// mail may pass without the confirmation dialog? Only the parts between the
// first '<' and the last '>' after it are compared, on both sides, byte for
// byte. isAllowedDomain: does the address contain one of the authorized
// domain entries anywhere as a plain substring? Both rules are literal: no
// case folding, no domain parsing, no trimming. An empty entry is contained
// in every address, so a blank line in the domain file authorizes everyone.
//
// Entries are added at the head, so a list filled from a file is walked last
// line first; answers never depend on the order, only log numbering does.
// An entry without text stays in the list but matches nothing. The list
// takes no lock: it is built and used by one thread.
//
// The caution questions ignore ASCII letter case, and there an empty entry
// matches nothing: a stray blank line must not put every mail under
// caution. isCautionDomain: does the address contain an entry?
// isCautionAttachment: an entry starting with '.' is a suffix of the file
// name; any other entry is a word found anywhere in it.
#pragma once

#include "foundation/LinkedList.h"
#include "foundation/Object.h"
#include "foundation/String.h"

#include <memory>

namespace MAIL {

class PatternList : public Object {
public:
    // Addresses of this many characters or more are never trusted: the
    // extraction of the bracket part works within 1023 characters.
    static constexpr int MaximumAddressLength = 1023;

    PatternList() = default;
    PatternList(const PatternList&) = delete;
    PatternList& operator=(const PatternList&) = delete;
    ~PatternList() override;

    // Takes ownership of entry and makes it the new head; null is ignored.
    // Allocation failure raises Exception -13 (entry is freed, the list
    // keeps what it had).
    void add(String* entry);
    void add(std::unique_ptr<String> entry);

    // Number of entries, those without text included.
    int count() const;

    // One DEBUG log line per entry, in walking order, numbered from 0.
    void dump() override;

    // True when the bracket part of address equals the bracket part of an
    // entry. False for null, empty or over-long addresses.
    bool isTrustedRecipient(const char* address) const;

    // True when some entry occurs inside address. False for null or empty.
    bool isAllowedDomain(const char* address) const;

    // True when some non-empty entry occurs inside address, case ignored.
    bool isCautionDomain(const char* address) const;

    // True when the file name ends with a non-empty ".suffix" entry or
    // contains any other non-empty entry, case ignored.
    bool isCautionAttachment(const char* fileName) const;

private:
    std::unique_ptr<Iterator> head_;
};

} // namespace MAIL
