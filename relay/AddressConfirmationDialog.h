// AddressConfirmationDialog: the question "send this mail?" without its
// drawing.
//
// The session fills it with the mail's subject, To, Cc, hidden recipients,
// attachments, security state and warning text, and calls showModal(),
// which hands it to the installed ConfirmationPresenter and returns 1 only
// when the user explicitly confirmed, 2 otherwise; getEnd() then says how
// the question ended. The model gives every
// presenter the same rows: recipients split at commas, each flagged (red,
// "x") when its address is outside the authorized domains, flagged with
// "new" when it is one of the new envelope addresses (never mailed before),
// and flagged with "caution" when it holds a caution domain; attachments with "x", "IRM" or
// "PWD", and " caution" after it for a caution attachment; security phrases
// flagged when unprotected or unencrypted. The flag words of a row always
// come in the order "x", "new", "caution". With ConfirmEachRecipient on
// (read when the model is made, so afresh for each mail) every flagged
// recipient row must be confirmed on its own as well. The countdown's length is the effective timeout: 60 at first,
// then DialogTimeout whenever it lies between 31 and 299, kept from one
// confirmation to the next.
#pragma once

#include "foundation/LinkedList.h"
#include "policy/PatternList.h"
#include "relay/ConfirmationPresenter.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace MAIL {

struct ConfirmationRow {
    std::string first;   // recipient, file name or security phrase
    std::string second;  // the flag words ("x", "new", "caution"), "IRM" or "PWD"
    bool flagged;        // drawn in red with the warning icon
};

class AddressConfirmationDialog {
public:
    static constexpr const char* Title = "Recipients Confirmation - Pelorus";
    static constexpr const char* DefaultMessage =
        "Please confirm recipients for this mail.\r\nDo you send this mail?";
    static constexpr const char* CheckBoxText =
        "Are you sure you want to send this mail? If 'Yes', please check the box.";

    // Loads the authorized domains (seeding the list file when needed) and
    // the two caution lists.
    AddressConfirmationDialog();
    AddressConfirmationDialog(const AddressConfirmationDialog&) = delete;
    AddressConfirmationDialog& operator=(const AddressConfirmationDialog&) = delete;

    void setSubject(const char* text) { subject_ = text == nullptr ? "" : text; }
    void setTo(const char* text) { to_ = text == nullptr ? "" : text; }
    void setCc(const char* text) { cc_ = text == nullptr ? "" : text; }
    void setBcc(const char* text) { bcc_ = text == nullptr ? "" : text; }
    void setSecurity(const char* text) { security_ = text == nullptr ? "" : text; }
    void setMessage(const char* text) { message_ = text == nullptr ? "" : text; }
    void setUnauthorized(const char* text) { unauthorized_ = text == nullptr ? "" : text; }
    // The envelope addresses no mail has gone to before (case ignored).
    void setNewRecipients(std::vector<std::string> addresses) { newRecipients_ = std::move(addresses); }
    // Whether every flagged recipient row is confirmed on its own.
    void setConfirmEachRecipient(bool each) { confirmEach_ = each; }
    bool confirmsEachRecipient() const { return confirmEach_; }
    // Borrowed list of MIMEFile records; must outlive showModal().
    void setAttachments(LinkedList* attachments) { attachments_ = attachments; }

    const std::string& getSubject() const { return subject_; }
    const std::string& getTo() const { return to_; }
    const std::string& getCc() const { return cc_; }
    const std::string& getBcc() const { return bcc_; }
    const std::string& getSecurity() const { return security_; }
    const std::string& getMessage() const { return message_; }
    const std::string& getUnauthorized() const { return unauthorized_; }

    // Asks the presenter; 1 only for an explicit confirmation, else 2.
    int showModal();
    // How the last showModal() ended (Cancelled before any).
    ConfirmationEnd getEnd() const { return end_; }

    // What presenters show.
    std::vector<ConfirmationRow> toRows() const { return recipientRows(to_); }
    std::vector<ConfirmationRow> ccRows() const { return recipientRows(cc_); }
    std::vector<ConfirmationRow> bccRows() const { return recipientRows(bcc_); }
    std::vector<ConfirmationRow> attachmentRows() const;
    // The addresses of the flagged To, Cc and Bcc rows, in that order, when
    // each is confirmed on its own; empty otherwise.
    std::vector<std::string> recipientsToConfirm() const;
    std::vector<ConfirmationRow> securityRows() const;
    // An empty To list is shown disabled (greyed out).
    bool isToEnabled() const { return !to_.empty(); }
    // The message label: the message text, or the default when empty.
    std::string messageText() const { return message_.empty() ? DefaultMessage : message_; }
    // The countdown length of this confirmation (fixed by showModal).
    int getTimeout() const { return timeout_; }
    Countdown makeCountdown() const { return Countdown(timeout_); }

    // The second column of a row: the words that apply, in the order given,
    // separated by one blank.
    static std::string joinFlags(std::initializer_list<std::string_view> words);

    // The effective timeout shared by all confirmations, and its update
    // from the stored DialogTimeout.
    static int effectiveTimeout();
    static void updateEffectiveTimeout(int stored);

private:
    std::vector<ConfirmationRow> recipientRows(const std::string& text) const;

    std::string subject_, to_, cc_, bcc_, security_, message_, unauthorized_;
    std::vector<std::string> newRecipients_;
    PatternList authorizedDomains_;
    PatternList cautionDomains_;
    PatternList cautionAttachments_;
    LinkedList* attachments_ = nullptr;
    bool confirmEach_ = false;
    int timeout_;
    ConfirmationEnd end_ = ConfirmationEnd::Cancelled;
};

} // namespace MAIL
