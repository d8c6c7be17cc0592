#include "relay/AddressConfirmationDialog.h"

#include "analysis/message/MIMEFile.h"
#include "config/LogWriter.h"
#include "config/ProxyConfiguration.h"
#include "foundation/Exception.h"
#include "policy/CautionAttachment.h"
#include "policy/CautionDomain.h"
#include "policy/TrustedDomain.h"
#include "relay/Addresses.h"
#include "relay/ConfirmationRegistry.h"

#include <algorithm>
#include <atomic>

namespace MAIL {

namespace {

std::atomic<int> sharedTimeout{60};

} // namespace

int AddressConfirmationDialog::effectiveTimeout() { return sharedTimeout.load(); }

void AddressConfirmationDialog::updateEffectiveTimeout(int stored)
{
    // Compared as unsigned, as the stored number is: 31 to 299 only.
    const unsigned value = static_cast<unsigned>(stored);
    if (static_cast<int>(value) != sharedTimeout.load() && value > 30 && value < 300)
        sharedTimeout.store(static_cast<int>(value));
}

AddressConfirmationDialog::AddressConfirmationDialog() : timeout_(sharedTimeout.load())
{
    trace(getLogWriter(), "AddressConfirmationDialog#AddressConfirmationDialog,1,Start");
    TrustedDomain domains;
    domains.load(authorizedDomains_);
    CautionDomain().load(cautionDomains_);
    CautionAttachment().load(cautionAttachments_);
    ProxyConfiguration().getConfirmEachRecipient(confirmEach_);
    trace(getLogWriter(), "AddressConfirmationDialog#AddressConfirmationDialog,5,Endt");
}

std::string AddressConfirmationDialog::joinFlags(std::initializer_list<std::string_view> words)
{
    std::string joined;
    for (const std::string_view word : words) {
        if (word.empty())
            continue;
        if (!joined.empty())
            joined += ' ';
        joined += word;
    }
    return joined;
}

std::vector<ConfirmationRow> AddressConfirmationDialog::recipientRows(const std::string& text) const
{
    std::vector<ConfirmationRow> rows;
    for (const std::string& token : addressTokens(text)) {
        // Shown whole, judged by the address alone.
        const std::string address = headerTokenAddress(token);
        const bool unauthorized = !authorizedDomains_.isAllowedDomain(address.c_str());
        const bool caution = cautionDomains_.isCautionDomain(address.c_str());
        const bool isNew = !address.empty() && std::any_of(newRecipients_.begin(), newRecipients_.end(),
                                                               [&address](const std::string& n) {
                                                                   return equalsIgnoringCase(n, address);
                                                               });
        rows.push_back({token, joinFlags({unauthorized ? "x" : "", isNew ? "new" : "", caution ? "caution" : ""}),
                        unauthorized || isNew || caution});
    }
    return rows;
}

std::vector<std::string> AddressConfirmationDialog::recipientsToConfirm() const
{
    std::vector<std::string> addresses;
    if (!confirmEach_)
        return addresses;
    for (const std::vector<ConfirmationRow>& rows : {toRows(), ccRows(), bccRows()})
        for (const ConfirmationRow& row : rows)
            if (row.flagged) {
                const std::string address = headerTokenAddress(row.first);
                addresses.push_back(address.empty() ? row.first : address);
            }
    return addresses;
}

std::vector<ConfirmationRow> AddressConfirmationDialog::attachmentRows() const
{
    std::vector<ConfirmationRow> rows;
    if (attachments_ == nullptr)
        return rows;
    attachments_->forEach<MIMEFile>([this, &rows](const MIMEFile& file) {
        const std::string name = file.getName() == nullptr ? "" : file.getName();
        if (name.empty())
            return;
        const char* state = !file.isProtected() ? "x" : file.getProtectionKind() == ProtectionIRM ? "IRM" : "PWD";
        const bool caution = cautionAttachments_.isCautionAttachment(name.c_str());
        rows.push_back({name, joinFlags({state, caution ? "caution" : ""}), !file.isProtected() || caution});
    });
    return rows;
}

std::vector<ConfirmationRow> AddressConfirmationDialog::securityRows() const
{
    std::vector<ConfirmationRow> rows;
    for (const std::string& phrase : addressTokens(security_)) {
        const bool flagged = phrase.find("unprotected") != std::string::npos ||
                             phrase.find("unencrypted") != std::string::npos;
        rows.push_back({phrase, flagged ? "x" : "", flagged});
    }
    return rows;
}

int AddressConfirmationDialog::showModal()
{
    LogWriter* log = getLogWriter();
    debug(log, "SMTPCommunicator#DialogProc,1,INITDIALOG");
    std::int32_t stored = ProxyConfiguration::DefaultDialogTimeout;
    ProxyConfiguration().getDialogTimeout(stored);
    updateEffectiveTimeout(stored);
    timeout_ = effectiveTimeout();
    debug(log, "SMTPCommunicator#DialogProc,2,getSubject");
    debug(log, "SMTPCommunicator#DialogProc,3,getTo");
    debug(log, "SMTPCommunicator#DialogProc,4,getCc");
    debug(log, "SMTPCommunicator#DialogProc,5,getBcc");
    debug(log, "SMTPCommunicator#DialogProc,7,getSecurity");
    debug(log, "SMTPCommunicator#DialogProc,8,OK,getSecurity");
    debug(log, "SMTPCommunicator#DialogProc,9,DoInsertItem,to=%s", to_.c_str());
    debug(log, "SMTPCommunicator#DialogProc,10,DoInsertItem,cc=%s", cc_.c_str());
    debug(log, "SMTPCommunicator#DialogProc,11,DoInsertItem,bcc=%s", bcc_.c_str());
    debug(log, "SMTPCommunicator#DialogProc,13,DoInsertItem,security=%s", security_.c_str());
    debug(log, "SMTPCommunicator#DialogProc,14,getMessage");
    debug(log, "SMTPCommunicator#DialogProc,15,INITDIALOG,end");

    CancelToken token;
    ConfirmationRegistry& registry = ConfirmationRegistry::instance();
    if (!registry.open(token)) {
        end_ = ConfirmationEnd::ShutDown;
        return 2;  // shutting down: nobody may confirm any more
    }
    int result = 2;
    try {
        if (std::shared_ptr<ConfirmationPresenter> presenter = confirmationPresenter()) {
            result = presenter->present(*this, token);
        } else {
            error(log, "AddressConfirmationDialog#showModal,1,No one to confirm this mail, so cancel it");
            token.explain(ConfirmationEnd::NoOneToAsk);
        }
    } catch (const Exception& e) {
        error(log, "AddressConfirmationDialog#showModal,2,Exception %s", e.getMessage());
        token.explain(ConfirmationEnd::NoOneToAsk);
        result = 2;
    } catch (...) {
        error(log, "AddressConfirmationDialog#showModal,3,Unknown exception");
        token.explain(ConfirmationEnd::NoOneToAsk);
        result = 2;
    }
    registry.close(token);
    if (token.isCancelled() || result != 1) {
        end_ = token.reason();
        return 2;
    }
    end_ = ConfirmationEnd::Confirmed;
    return 1;
}

} // namespace MAIL
