// MailHeader and MailHeaders: the header lines of a mail, in arrival order.
//
// A MailHeader is one unfolded header line: the name exactly as received
// (the text before the first colon) and the value with its encoded words
// decoded. MailHeaders owns its records; dump() prints each through the
// diagnostics channel.
#pragma once

#include "foundation/LinkedList.h"
#include "foundation/String.h"

namespace MAIL {

class MailHeader : public Object {
public:
    // Both start empty; the name is taken when given, the value only when a
    // name was given too.
    explicit MailHeader(const char* name = nullptr, const char* value = nullptr);

    const String& getName() const { return name_; }
    const String& getValue() const { return value_; }

    // "HttpHeader#dump <name>: <value>" on standard output.
    void dump() override;

private:
    String name_{""};
    String value_{""};
};

class MailHeaders : public LinkedList {
public:
    // The first record with this name (compared without regard to case), or
    // null.
    const MailHeader* find(const char* name) const;
};

} // namespace MAIL
