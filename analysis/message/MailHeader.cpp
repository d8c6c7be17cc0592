#include "analysis/message/MailHeader.h"

#include "analysis/message/HeaderFields.h"
#include "foundation/Diagnostics.h"

namespace MAIL {

MailHeader::MailHeader(const char* name, const char* value)
{
    if (name == nullptr)
        return;
    name_ = String(name);
    if (value != nullptr)
        value_ = String(value);
}

void MailHeader::dump() { diagnostic("HttpHeader#dump %s: %s\n", name_.getText(), value_.getText()); }

const MailHeader* MailHeaders::find(const char* name) const
{
    if (name == nullptr)
        return nullptr;
    const MailHeader* found = nullptr;
    forEach<MailHeader>([&](const MailHeader& header) {
        if (found == nullptr && equalsIgnoreCase(header.getName().view(), name))
            found = &header;
    });
    return found;
}

} // namespace MAIL
