#include "relay/MailTransaction.h"

#include "analysis/message/AttachedFiles.h"
#include "analysis/message/AttachmentWalk.h"
#include "analysis/message/MIMEFile.h"
#include "foundation/FileDescriptor.h"
#include "foundation/String.h"
#include "relay/Addresses.h"
#include "relay/SessionText.h"

#include <algorithm>

#include <fcntl.h>

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

bool MailTransaction::markCautions(const PatternList& cautionDomains)
{
    bool any = false;
    for (RecipientRecord& r : recipients_) {
        r.caution = cautionDomains.isCautionDomain(r.address.c_str());
        any = any || r.caution;
    }
    return any;
}

bool MailTransaction::markNew(const SentRecipients& history)
{
    bool any = false;
    for (RecipientRecord& r : recipients_) {
        r.isNew = history.isNew(r.address);
        any = any || r.isNew;
    }
    return any;
}

std::vector<std::string> MailTransaction::addresses(bool RecipientRecord::*flag) const
{
    std::vector<std::string> found;
    for (const RecipientRecord& r : recipients_)
        if (flag == nullptr || r.*flag)
            found.push_back(r.address);
    return found;
}

std::vector<std::string> MailTransaction::outsideDomains() const
{
    std::vector<std::string> domains;
    for (const RecipientRecord& r : recipients_) {
        const std::size_t at = r.address.rfind('@');
        if (r.authorized || at == std::string::npos)
            continue;
        std::string domain = asciiLower(std::string_view(r.address).substr(at + 1));
        if (std::find(domains.begin(), domains.end(), domain) == domains.end())
            domains.push_back(std::move(domain));
    }
    return domains;
}

std::string MailTransaction::addressesWhere(bool RecipientRecord::*flag) const
{
    std::string text;
    for (const std::string& address : addresses(flag))
        text += (text.empty() ? "" : ", ") + address;
    return text;
}

bool MailTransaction::carriesCautionAttachment(const PatternList& cautionAttachments) const
{
    if (cautionAttachments.count() == 0)
        return false;
    const std::string boundary = textOf(headers.getBoundary());
    if (boundary.empty())
        return false;
    const FileDescriptor file(::open(spool.getPath().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file.isOpen())
        return true;
    // Without a folder the walk writes no file and judges none.
    LinkedList records;
    ProtectionChecker checker;
    AttachmentWalk(records, checker, -1, std::string(), boundary, AttachedFiles::MaxDepth).run(file.get());
    bool caution = false;
    records.forEach<MIMEFile>([&](const MIMEFile& record) {
        caution = caution || cautionAttachments.isCautionAttachment(record.getName());
    });
    records.clear();
    return caution;
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
