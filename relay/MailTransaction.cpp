#include "relay/MailTransaction.h"

#include "relay/Addresses.h"

#include <algorithm>

namespace MAIL {

const RecipientRecord& MailTransaction::addRecipient(std::string_view argument, const PatternList& trustedRecipients,
                                                     const PatternList& authorizedDomains)
{
    RecipientRecord record;
    record.entry = std::string(argument.substr(0, 1023));
    record.address = envelopeAddress(record.entry);
    record.trusted = trustedRecipients.isTrustedRecipient(record.address.c_str());
    record.authorized = authorizedDomains.isAllowedDomain(record.address.c_str());
    recipients_.push_back(std::move(record));
    return recipients_.back();
}

bool MailTransaction::allTrusted() const
{
    return std::all_of(recipients_.begin(), recipients_.end(), [](const RecipientRecord& r) { return r.trusted; });
}

std::string MailTransaction::unauthorized() const
{
    std::string text;
    for (const RecipientRecord& r : recipients_)
        if (!r.authorized)
            text += r.entry + ",";
    return text;
}

std::string MailTransaction::hidden(const std::string& to, const std::string& cc) const
{
    std::vector<std::string> shown;
    for (const std::string* text : {&to, &cc})
        for (const std::string& token : addressTokens(*text))
            shown.push_back(headerTokenAddress(token));
    std::string bcc;
    for (const RecipientRecord& r : recipients_) {
        if (r.address.empty())
            continue;
        const bool visible = std::any_of(shown.begin(), shown.end(), [&](const std::string& candidate) {
            return equalsIgnoringCase(candidate, r.address);
        });
        if (!visible)
            bcc += r.entry + ",";
    }
    return bcc;
}

} // namespace MAIL
