// The judgement of a mail whose data has ended: who it goes to (including
// the hidden recipients), what it carries, how it is protected, and whether
// the user must confirm it before it is forwarded. Every judged mail leaves
// exactly one line in the record of decisions, whichever way it ends.
#include "relay/SMTPCommunicator.h"

#include "analysis/message/AttachedFiles.h"
#include "analysis/message/MIMEFile.h"
#include "config/LogTag.h"
#include "config/LogWriter.h"
#include "config/ProxyConfiguration.h"
#include "foundation/Exception.h"
#include "foundation/VisibleText.h"
#include "policy/SentRecipients.h"
#include "relay/AddressConfirmationDialog.h"
#include "relay/Addresses.h"
#include "relay/Notifications.h"
#include "relay/RelayError.h"
#include "relay/SessionText.h"

using namespace MAIL;

namespace {

constexpr std::string_view LogClass = "SMTPCommunicator";

const char* verdictMessage(bool irm, bool smime)
{
    if (irm && smime)
        return "This mail is protected by IRM and also encrypted by S/MIME.\r\nPlease confirm recipients.";
    if (irm)
        return "This mail is protected by IRM.\r\nPlease confirm recipients.";
    if (smime)
        return "This mail is encrypted by S/MIME.\r\nPlease confirm recipients.";
    return "Warning:This mail is not protected by IRM and also not encrypted by S/MIME.\r\nPlease confirm "
           "recipients.";
}

// Where the confirmation places a recipient: in To or Cc when a token
// there has its address, else among the hidden recipients.
const char* placeOf(const std::string& address, const std::vector<std::string>& to, const std::vector<std::string>& cc)
{
    const auto in = [&address](const std::vector<std::string>& shown) {
        return std::any_of(shown.begin(), shown.end(),
                           [&address](const std::string& candidate) { return equalsIgnoringCase(candidate, address); });
    };
    if (!address.empty() && in(to))
        return "to";
    if (!address.empty() && in(cc))
        return "cc";
    return "bcc";
}

std::vector<std::string> tokenAddresses(const std::string& text)
{
    std::vector<std::string> addresses;
    for (const std::string& token : addressTokens(text))
        addresses.push_back(headerTokenAddress(token));
    return addresses;
}

// What the record knows of a mail before anything is decided.
DecisionRecord startRecord(const MailTransaction& mail, const std::string& subject)
{
    DecisionRecord record;
    if (const MailHeader* id = mail.headers.getHeaders().find("Message-ID"))
        record.messageId = std::string(trimView(id->getValue().view()));
    record.subject = subject;
    record.from = envelopeAddress(mail.sender());
    const std::vector<std::string> to = tokenAddresses(textOf(mail.headers.getTo()));
    const std::vector<std::string> cc = tokenAddresses(textOf(mail.headers.getCc()));
    for (const RecipientRecord& r : mail.recipients())
        record.recipients.push_back({r.address, placeOf(r.address, to, cc), r.trusted, r.authorized});
    record.irm = mail.headers.isIRMProtected();
    record.smime = mail.headers.isSMIMEEncrypted();
    return record;
}

// What the question showed and how it ended, into the record.
void recordQuestion(DecisionRecord& record, const AddressConfirmationDialog& dialog)
{
    for (const ConfirmationRow& row : dialog.attachmentRows())  // "x", "IRM" or "PWD" leads the flag words
        record.attachments.push_back({row.first, row.second.substr(0, row.second.find(' ')),
                                      row.second.ends_with(" caution")});
    const std::string message = dialog.messageText();
    for (std::size_t start = 0; start < message.size();) {
        const std::size_t end = std::min(message.find("\r\n", start), message.size());
        record.warnings.push_back(message.substr(start, end - start));
        start = end + 2;
    }
    record.decidedBy = DecidedBy::User;
    switch (dialog.getEnd()) {
    case ConfirmationEnd::Confirmed: break;  // the forwarding tells how it went
    case ConfirmationEnd::Cancelled: record.decision = MailOutcome::Cancelled; break;
    case ConfirmationEnd::TimedOut: record.decision = MailOutcome::Timeout; break;
    case ConfirmationEnd::Replaced: record.decision = MailOutcome::Replaced; break;
    case ConfirmationEnd::ShutDown:
    case ConfirmationEnd::NoOneToAsk:
        record.decision = MailOutcome::Cancelled;
        record.decidedBy = DecidedBy::Nobody;
        break;
    }
}

// The warnings that ask nothing by themselves: a mail that spans several
// outside organisations, and one to more people than the user's limit.
std::string warningLines(const MailTransaction& mail)
{
    std::string lines;
    if (const std::vector<std::string> domains = mail.outsideDomains(); domains.size() >= 2) {
        std::string joined;
        for (const std::string& domain : domains)
            joined += (joined.empty() ? "" : ", ") + visibleText(domain, false);
        lines += "Warning: this mail goes to " + std::to_string(domains.size()) + " outside domains: " + joined +
                 "\r\n";
    }
    std::int32_t limit = 0;
    ProxyConfiguration().getMaxRecipients(limit);  // read afresh for each mail
    if (limit > 0 && mail.recipients().size() > static_cast<std::size_t>(limit))
        lines += "Warning: this mail has " + std::to_string(mail.recipients().size()) + " recipients.\r\n";
    return lines;
}

// The message lines that say where a caution fired: recipients, then
// attachments, each list joined by ", ". A file name is mail text: it must
// not add a line of its own.
std::string cautionLines(const MailTransaction& mail, const LinkedList& attachments, const PatternList& cautions)
{
    std::string lines;
    if (const std::string addresses = mail.cautionAddresses(); !addresses.empty())
        lines += "Caution: " + addresses + "\r\n";
    std::string names;
    attachments.forEach<MIMEFile>([&](const MIMEFile& file) {
        if (file.getName() != nullptr && file.getName()[0] != '\0' && cautions.isCautionAttachment(file.getName()))
            names += (names.empty() ? "" : ", ") + visibleText(file.getName(), false);
    });
    if (!names.empty())
        lines += "Caution: attachment " + names + "\r\n";
    return lines;
}

// Marks the recipients this user has never sent mail to; true when any is.
// Nothing is new while FlagNewRecipients is 0. A history that cannot be
// read makes every recipient new, and the user is told why.
bool markNewRecipients(MailTransaction& mail, bool flag)
{
    if (!flag)
        return false;
    SentRecipients history;
    if (history.load() == SentRecipients::State::Unreadable)
        showWarningBalloon("Pelorus could not read the list of sent recipients; every recipient is shown as new.");
    return mail.markNew(history);
}

} // namespace

void SMTPCommunicator::resetServerQuietly()
{
    // The server still holds the envelope of a mail that will not be sent.
    sendToServer("RSET\r\n");
    const int code = fromServer();
    if (is2xx(code))
        return;
    // A server that keeps the recipients would give them the next mail of
    // this session unconfirmed: it hears nothing more from us.
    error(getLogWriter(), "%s,1,RSET refused with code=[%d]: the connection to the SMTP server is closed",
          logTag(LogClass).c_str(), code);
    closeServer();
    serverLost_ = true;
}

void SMTPCommunicator::refuseData(const ReplyText& reply, const char* notice, const std::string& subject)
{
    record_.decision = MailOutcome::Refused;
    showErrorBalloon(subjectNotice(notice, balloonSubject(subject, 210)));
    sendToClient(reply);
    resetServerQuietly();
}

SMTPCommunicator::Decision SMTPCommunicator::ask(const std::string& subject)
{
    MailTransaction& mail = *mail_;
    const std::string to = textOf(mail.headers.getTo());
    const std::string cc = textOf(mail.headers.getCc());
    AddressConfirmationDialog dialog;
    LinkedList attachments;
    {
        AttachedFiles files(mail.spool.getPath().c_str(), textOf(mail.headers.getBoundary()).c_str());
        files.parse(attachments);
        files.clear();  // the files go before the question is asked
    }
    if (attachments.getLength() > 0)
        dialog.setAttachments(&attachments);
    String summary;
    mail.headers.getSecuritySummary(summary);
    dialog.setSubject(subject.c_str());
    dialog.setTo(to.c_str());
    dialog.setCc(cc.c_str());
    dialog.setBcc(mail.hidden(to, cc).c_str());
    dialog.setSecurity(summary.getText());
    std::string message;
    const std::string unauthorized = mail.unauthorized();
    if (!unauthorized.empty()) {
        dialog.setUnauthorized(unauthorized.c_str());
        message += "Warning:Found unauthorized recipients\r\n";
    }
    if (std::vector<std::string> fresh = mail.addresses(&RecipientRecord::isNew); !fresh.empty()) {
        message += "First mail to: " + mail.newAddresses() + "\r\n";
        dialog.setNewRecipients(std::move(fresh));
    }
    message += cautionLines(mail, attachments, cautionAttachments_);
    message += warningLines(mail);
    message += verdictMessage(mail.headers.isIRMProtected(), mail.headers.isSMIMEEncrypted());
    dialog.setMessage(message.c_str());

    // The dialog's contract: 1 only for an explicit confirmation.
    const Decision decision = dialog.showModal() == 1 ? Decision::Send : Decision::Cancel;
    recordQuestion(record_, dialog);
    return decision;
}

int SMTPCommunicator::confirm()
{
    LogWriter* log = getLogWriter();
    MailTransaction& mail = *mail_;
    debug(log, "SMTPCommunicator#confirm,1,Separator=%d", mail.headers.isHeaderEnded() ? 1 : 0);
    mail.spool.close();
    const std::string subject = textOf(mail.headers.getSubject());
    Decision decision = Decision::Send;
    record_ = startRecord(mail, subject);
    // Written however confirm() is left, a failure that ends the session too.
    struct Written {
        const DecisionRecord& record;
        ~Written() { recordDecision(record); }
    } written{record_};

    if (!mail.spool.isComplete()) {
        // Never forwarded partly: the mail is refused as a whole.
        refuseData(ProxyReply::CannotStore, "Pelorus could not store a mail:", subject);
    } else if (mail.scanner.hasBareLineEnd()) {
        // A lenient server could read a second mail, with recipients the
        // user never saw, out of data with a bare CR or LF.
        refuseData(ProxyReply::BareLineEnd, "Refused a mail with a bare CR or LF in its data:", subject);
    } else {
        trace(log,
              "SMTPCommunicator#confirm,4,state=%d,Found invalid receiver,To=[%s] Cc=[%s] Subject=[%s] "
              "Content-Type=[%s] multipart=[%d] boundary=[%s]",
              static_cast<int>(stage_), textOf(mail.headers.getTo()).c_str(), textOf(mail.headers.getCc()).c_str(),
              subject.c_str(), textOf(mail.headers.getContentType()).c_str(), mail.headers.isMultipart() ? 1 : 0,
              textOf(mail.headers.getBoundary()).c_str());
        // The settings of this mail, from one reading of the file.
        MailSettings settings;
        {
            ProxyConfiguration configuration;
            const Registry::HeldReads oneReading(configuration);
            configuration.getFlagNewRecipients(settings.flagNew);
            configuration.getSendDelay(settings.sendDelay);
            configuration.getHoldTrusted(settings.holdTrusted);
        }
        const bool cautionRecipient = mail.markCautions(cautionDomains_);
        const bool newRecipient = markNewRecipients(mail, settings.flagNew);
        for (std::size_t i = 0; i < record_.recipients.size(); ++i) {  // one entry per recipient, in order
            record_.recipients[i].caution = mail.recipients()[i].caution;
            record_.recipients[i].isNew = mail.recipients()[i].isNew;
        }
        // Every recipient fully trusted, none new and nothing under
        // caution: no question, no dialog.
        const bool question = !mail.allTrusted() || cautionRecipient || newRecipient ||
                              mail.carriesCautionAttachment(cautionAttachments_);
        decision = settle(subject, question, settings);
    }
    const int result = decision == Decision::Cancel ? 2 : 1;
    forgetMail();
    debug(log, "SMTPCommunicator#confirm,12,End Separator=%d rc=%d", 1, result);
    return result;
}
