// RecipientList: address texts collected during one session.
//
// A LinkedList of String elements kept in insertion order (add appends at
// the tail): all envelope recipients of a mail, or the unauthorized ones.
// It can log itself and join its texts into one comma-separated text.
#pragma once

#include "foundation/LinkedList.h"

#include <string>

namespace MAIL {

class RecipientList : public LinkedList {
public:
    RecipientList() = default;
    ~RecipientList() override;

    // One DEBUG log line per element, in insertion order, numbered from 0.
    void dump() override;

    // Appends every element's text followed by ',' to text ("a,b," for a
    // and b); what text already holds stays. An empty list appends nothing.
    void join(std::string& text) const;
};

} // namespace MAIL
