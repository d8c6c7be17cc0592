// MailTransaction: everything that belongs to one mail of a session.
//
// A transaction begins when the server accepts MAIL (or, fail closed, when
// it accepts a recipient with no MAIL before it: a recipient the server
// holds is never dropped). It ends on a RSET the server accepted, after the
// mail was decided, or with the session; nothing of one mail can leak into
// the next, because the next one is a new object.
//
// It holds the sender, one record per recipient the server accepted (the
// entry as received, its address, and how the lists judge it), the spool
// file, the header parser and the data scanner. Caution beats trust: a
// recipient under caution is asked about even when fully trusted, and so
// is a new one, whose address this user has never sent mail to.
#pragma once

#include "analysis/message/MailHeaderParser.h"
#include "policy/PatternList.h"
#include "policy/SentRecipients.h"
#include "relay/DataScanner.h"
#include "relay/SMTPMessage.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace MAIL {

struct RecipientRecord {
    std::string entry;    // the RCPT TO argument as received (at most 1023 bytes)
    std::string address;  // what it is judged by
    bool trusted;         // a fully trusted recipient
    bool authorized;      // inside an authorized domain
    bool caution = false; // inside a caution domain
    bool isNew = false;   // no mail has gone to its address before
};

class MailTransaction {
public:
    explicit MailTransaction(std::string sender) : sender_(std::move(sender)) {}
    MailTransaction(const MailTransaction&) = delete;
    MailTransaction& operator=(const MailTransaction&) = delete;

    const std::string& sender() const { return sender_; }

    // Takes in a recipient the server accepted.
    const RecipientRecord& addRecipient(std::string_view argument, const PatternList& trustedRecipients,
                                        const PatternList& authorizedDomains);
    const std::vector<RecipientRecord>& recipients() const { return recipients_; }
    bool allTrusted() const;
    // Marks the recipients whose address holds a caution domain; true when
    // any does.
    bool markCautions(const PatternList& cautionDomains);
    // The addresses under caution, joined by ", ".
    std::string cautionAddresses() const { return addressesWhere(&RecipientRecord::caution); }
    // Marks the recipients the history counts as new; true when any is.
    bool markNew(const SentRecipients& history);
    // The new addresses, joined by ", ".
    std::string newAddresses() const { return addressesWhere(&RecipientRecord::isNew); }
    // The domains (after the last "@", in lower case) of the recipients
    // outside the authorized domains, each once, in order of first appearance.
    std::vector<std::string> outsideDomains() const;
    // The addresses of every recipient, or of those with flag set, in order.
    std::vector<std::string> addresses(bool RecipientRecord::*flag = nullptr) const;
    // Whether an attached file's name is under caution. The spool file is
    // walked for the names (not decoded, not judged) only while the list
    // has entries, so that mails pay nothing otherwise; a spool file that
    // cannot be read counts as a caution.
    bool carriesCautionAttachment(const PatternList& cautionAttachments) const;
    // The entries outside the authorized domains, each followed by ",".
    std::string unauthorized() const;
    // The entries whose address is not that of any To or Cc token, each
    // followed by ",": the hidden recipients.
    std::string hidden(const std::string& to, const std::string& cc) const;

    // The data stage: the spool file, the header block and the end mark.
    SMTPMessage spool;
    MailHeaderParser headers;
    DataScanner scanner;
    std::uint64_t bytes = 0;

private:
    std::string addressesWhere(bool RecipientRecord::*flag) const;

    std::string sender_;
    std::vector<RecipientRecord> recipients_;
};

} // namespace MAIL
