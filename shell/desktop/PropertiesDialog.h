// PropertiesDialog: "Pelorus Properties", where the user edits the SMTP
// server's name, port and Security mode and the proxy's own port, and tests
// the server.
//
// The dialog holds the values it was given (Server, Port, Security,
// ProxyPort and the carried-through Allowed) and replaces them with the
// edited ones only when OK passes both validations; Cancel, Escape and the
// close box keep them. It never writes the settings store: the Properties
// command reads the settings before and writes them after. The connection
// test uses the Security shown (saved or not) with the stored CAFile and
// VerifyServer, read when the test starts.
//
// The group "Session" holds "Start Pelorus when I log in", ticked when the
// dialog opens exactly while the autostart file is there and not hidden
// (SessionAutostart). OK, once both validations pass, writes that file
// (ticked) or removes it (unticked); when that fails, its message is shown
// and the dialog stays open with nothing taken over.
//
// The group "Record" holds "Keep a record of my decisions" (DecisionLog):
// shown as given, taken over on OK like the other values.
//
// The group "Checks" holds "Flag first-time recipients" (FlagNewRecipients),
// "Ask me to tick each flagged recipient" (ConfirmEachRecipient) and the
// recipient limit of "Warn when a mail has more than [N] recipients"
// (MaxRecipients). OK takes them over with the other values; a limit that
// is not a whole number from 0 to 10000 is refused after the server checks
// pass, and the dialog stays open.
//
// The group "Undo" holds the hold of "Hold each mail for [N] seconds after I
// confirm, so I can undo it" (SendDelay) and "Also hold mails that need no
// confirmation" (HoldTrusted), taken over on OK like the checks; a hold that
// is not a whole number from 0 to 60 is refused after the recipient limit.
//
// Security is shown as None, STARTTLS or TLS, chosen by the stored text as
// the relay reads it. A stored text the relay does not know stays in the
// list as an item of its own, selected, so that OK keeps it as it was
// instead of quietly turning it into another mode.
//
// The validations resolve the server name and the test talks to the server,
// so both run on a thread of their own with OK and Test disabled until they
// end; the GUI thread never waits on the network. The dialog is shown with
// present() and reports its end through QDialog::finished.
//
// Control ids of the dialog resource are the widgets' object names: 1014
// server name, 1016 server port, 1024 Security, 1015 Test, 1017 proxy port,
// 11 the icon, 1 OK, 2 Cancel.
#pragma once

#include "shell/desktop/DialogSupport.h"

#include <QDialog>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace MAIL {

class PropertiesDialog : public QDialog {
    Q_OBJECT
public:
    explicit PropertiesDialog(QWidget* parent = nullptr);
    ~PropertiesDialog() override;

    // Stores a copy without leading and trailing spaces, tabs, CR and LF.
    void setServer(std::string_view server);
    // Text: trimmed, then its leading decimal digits (0 when none).
    void setPort(std::string_view port);
    void setPort(int port) { port_ = port; }
    void setProxyPort(std::string_view port);
    void setProxyPort(int port) { proxyPort_ = port; }
    void setAllowed(std::string_view allowed);
    // The Security setting as stored ("" and "none" are plain SMTP).
    void setSecurity(std::string_view security) { security_ = std::string(security); }
    void setDecisionLog(bool keep) { decisionLog_ = keep; }
    bool getDecisionLog() const { return decisionLog_; }
    void setFlagNewRecipients(bool flag) { flagNewRecipients_ = flag; }
    bool getFlagNewRecipients() const { return flagNewRecipients_; }
    void setConfirmEachRecipient(bool each) { confirmEachRecipient_ = each; }
    bool getConfirmEachRecipient() const { return confirmEachRecipient_; }
    void setMaxRecipients(std::int32_t limit) { maxRecipients_ = limit; }
    std::int32_t getMaxRecipients() const { return maxRecipients_; }
    void setSendDelay(std::int32_t seconds) { sendDelay_ = seconds; }
    std::int32_t getSendDelay() const { return sendDelay_; }
    void setHoldTrusted(bool hold) { holdTrusted_ = hold; }
    bool getHoldTrusted() const { return holdTrusted_; }

    const std::string& getServer() const { return server_; }
    const std::string& getAllowed() const { return allowed_; }
    // The text to store: "none", "starttls", "tls", or an unknown stored
    // text unchanged.
    const std::string& getSecurity() const { return security_; }
    // The low 16 bits of the stored numbers.
    std::uint16_t getPort() const { return static_cast<std::uint16_t>(port_ & 0xFFFF); }
    std::uint16_t getProxyPort() const { return static_cast<std::uint16_t>(proxyPort_ & 0xFFFF); }

    // Puts the values into the edits and shows the dialog above other
    // windows; returns at once.
    void present();

    // True while a validation or a connection test runs.
    bool isBusy() const { return busy_; }

    // Validates (off the GUI thread) and closes with Accepted when both
    // validations pass; otherwise shows the first failure and stays open.
    void accept() override;
    // Closes with Rejected; the values stay as they were given.
    void reject() override;

signals:
    // A validation or a connection test has ended and its message, if
    // any, is shown.
    void checkFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void runConnectionTest();
    void setBusy(bool busy);
    void showError(const std::string& text);
    // Writes or removes the autostart file as the Session box says; false
    // after showing why it failed.
    bool applySessionStart();
    // Selects the item for security_, adding one for an unknown text.
    void showSecurity();
    std::string selectedSecurity() const;

    QLineEdit* serverEdit_;
    QLineEdit* portEdit_;
    QComboBox* securityCombo_;
    QLineEdit* proxyPortEdit_;
    QPushButton* testButton_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;
    QCheckBox* sessionBox_;
    QCheckBox* recordBox_;
    QCheckBox* flagNewBox_;
    QCheckBox* confirmEachBox_;
    QLineEdit* maxRecipientsEdit_;
    QLineEdit* sendDelayEdit_;
    QCheckBox* holdTrustedBox_;

    std::string server_;
    long port_ = 25;
    std::string allowed_;
    std::string security_ = "none";
    long proxyPort_ = 25;
    bool decisionLog_ = true;
    bool flagNewRecipients_ = true;
    bool confirmEachRecipient_ = false;
    std::int32_t maxRecipients_ = 0;
    std::int32_t sendDelay_ = 0;
    bool holdTrusted_ = true;
    bool busy_ = false;
    BackgroundWork work_;
};

// The port edits' key filter: whether a key with this text (and whether it
// is Backspace) is let through to an edit holding length characters, of
// which selected are selected. Only printable keys and Backspace are
// judged; anything else is let through.
bool portKeyAccepted(const QString& text, bool backspace, int length, int selected);

// A number typed into the dialog (the recipient limit, the hold): digits
// only (blanks around ignored), 0 to maximum; nothing otherwise.
std::optional<std::int32_t> numberUpTo(std::string_view text, std::int32_t maximum);

} // namespace MAIL
