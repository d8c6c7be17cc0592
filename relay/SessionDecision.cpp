// The judgement of a mail whose data has ended: who it goes to (including
// the hidden recipients), what it carries, how it is protected, and whether
// the user must confirm it before it is forwarded.
#include "relay/SMTPCommunicator.h"

#include "analysis/message/AttachedFiles.h"
#include "config/LogWriter.h"
#include "foundation/Exception.h"
#include "relay/AddressConfirmationDialog.h"
#include "relay/Addresses.h"
#include "relay/Notifications.h"
#include "relay/RelayError.h"
#include "relay/SessionText.h"

#include <cstdio>

using namespace MAIL;

namespace {

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

// The envelope recipients whose address is not the address of any To or
// Cc token: the hidden ones, each as received, followed by ",".
std::string hiddenRecipients(const RecipientList& all, const std::vector<std::string>& addresses,
                             const std::string& to, const std::string& cc)
{
    std::vector<std::string> shown;
    for (const std::string* text : {&to, &cc})
        for (const std::string& token : addressTokens(*text))
            shown.push_back(headerTokenAddress(token));
    std::string bcc;
    std::size_t index = 0;
    all.forEach<String>([&](const String& entry) {
        const std::string& address = addresses.at(index++);
        if (address.empty())
            return;
        bool visible = false;
        for (const std::string& candidate : shown)
            visible = visible || equalsIgnoringCase(candidate, address);
        if (!visible) {
            bcc += entry.view();
            bcc += ",";
        }
    });
    return bcc;
}

} // namespace

void SMTPCommunicator::endOfData()
{
    stage_ = 2;
    const int result = confirm();
    if (result == 2)
        endSession_ = true;
}

void SMTPCommunicator::resetServerQuietly()
{
    // The server still holds the envelope of a mail that will not be sent.
    sendToServer("RSET\r\n");
    const int code = fromServer();
    if (is2xx(code))
        return;
    // A server that keeps the recipients would give them the next mail of
    // this session unconfirmed: it hears nothing more from us.
    error(getLogWriter(), "SMTPCommunicator#resetServerQuietly,1,RSET refused with code=[%d]: "
                          "the connection to the SMTP server is closed", code);
    closeServer();
    serverLost_ = true;
}

void SMTPCommunicator::refuseData(const char* reply, const char* notice, const std::string& subject)
{
    showErrorBalloon(subjectNotice(notice, balloonSubject(subject, 210)));
    sendToClient(reply);
    resetServerQuietly();
}

int SMTPCommunicator::confirm()
{
    LogWriter* log = getLogWriter();
    debug(log, "SMTPCommunicator#confirm,1,Separator=%d", headerParser_.isHeaderEnded() ? 1 : 0);
    spool_.close();
    const std::string subject = textOf(headerParser_.getSubject());
    const std::string to = textOf(headerParser_.getTo());
    const std::string cc = textOf(headerParser_.getCc());
    const std::string contentType = textOf(headerParser_.getContentType());
    const std::string boundary = textOf(headerParser_.getBoundary());
    int result = 1;

    if (!spool_.isComplete()) {
        // Never forwarded partly: the mail is refused as a whole.
        refuseData("451 4.3.0 Pelorus could not store this mail.\r\n",
                   "Pelorus could not store a mail:", subject);
    } else if (scanner_.hasBareLineEnd()) {
        // A lenient server could read a second mail, with recipients the
        // user never saw, out of data with a bare CR or LF.
        refuseData("554 5.6.0 Pelorus refused this mail: bare CR or LF in its data.\r\n",
                   "Refused a mail with a bare CR or LF in its data:", subject);
    } else {
        const std::string bcc = hiddenRecipients(allRecipients_, envelopeAddresses_, to, cc);
        String summary;
        headerParser_.getSecuritySummary(summary);
        trace(log,
              "SMTPCommunicator#confirm,4,state=%d,Found invalid receiver,To=[%s] Cc=[%s] Subject=[%s] "
              "Content-Type=[%s] multipart=[%d] boundary=[%s]",
              stage_, to.c_str(), cc.c_str(), subject.c_str(), contentType.c_str(),
              headerParser_.isMultipart() ? 1 : 0, boundary.c_str());

        if (untrustedCount_ < 1) {
            // Every recipient is fully trusted: no question, no dialog.
            sendData(subject);
        } else {
            AddressConfirmationDialog dialog;
            LinkedList attachments;
            {
                AttachedFiles files(spool_.getPath().c_str(), boundary.c_str());
                files.parse(attachments);
                files.clear();  // the files go before the question is asked
            }
            if (attachments.getLength() > 0)
                dialog.setAttachments(&attachments);
            dialog.setSubject(subject.c_str());
            dialog.setTo(to.c_str());
            dialog.setCc(cc.c_str());
            dialog.setBcc(bcc.c_str());
            dialog.setSecurity(summary.getText());
            std::string message;
            if (invalidRecipient_ != 0) {
                std::string unauthorized;
                invalidRecipients_.join(unauthorized);
                dialog.setUnauthorized(unauthorized.c_str());
                message += "Warning:Found unauthorized recipients\r\n";
            }
            message += verdictMessage(headerParser_.isIRMProtected(), headerParser_.isSMIMEEncrypted());
            dialog.setMessage(message.c_str());

            confirming_.store(true);
            result = dialog.showModal();
            confirming_.store(false);
            dialogShown_ = true;
            try {
                if (result == 2)
                    reset(subject);
                else
                    sendData(subject);
            } catch (...) {
                // Shown only now that the client has had its reply (or is gone).
                endSession_ = true;
                showMessageBox("Debug", "Something Exception", NoticeKind::Information);
            }
        }
    }
    spool_.remove();
    mailStarted_ = false;
    forgetMail();
    debug(log, "SMTPCommunicator#confirm,12,End Separator=%d rc=%d", 1, result);
    return result;
}
