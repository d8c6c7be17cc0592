#include "policy/TrustedRecipient.h"

namespace MAIL {

TrustedRecipient::TrustedRecipient() : ListFile(FileName, "TrustedRecipient") {}

TrustedRecipient::~TrustedRecipient() = default;

int TrustedRecipient::load(LinkedList& list) const
{
    return read([&](std::unique_ptr<String> entry) { list.addLast(std::move(entry)); }).count;
}

int TrustedRecipient::load(PatternList& list) const
{
    return read([&](std::unique_ptr<String> entry) { list.add(std::move(entry)); }).count;
}

void TrustedRecipient::dump()
{
    LinkedList entries;
    load(entries);
    dumpEntries("TrustedRecipient", entries);
}

} // namespace MAIL
