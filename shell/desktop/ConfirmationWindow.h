// ConfirmationWindow: the desktop window that asks "send this mail?".
//
// It shows what the AddressConfirmationDialog model gives, copied into a
// ConfirmationContent so the window never touches the session's model:
// the subject, the To, Cc, Bcc, attachment and security rows (flagged rows
// in pure red with the warning icon), the warning text, the confirmation
// box, the countdown and OK / Cancel. OK is enabled exactly while the box
// is checked. When each recipient is confirmed on its own, every flagged
// To, Cc and Bcc row carries a check box too, and OK is enabled only while
// all of them and the main box are checked. Controls carry their resource ids as object names ("1000",
// "1007", "1019", ...), so tests and accessibility tools find them.
//
// answer() is 1 only when the enabled OK button ended the window; every
// other end (Cancel, Escape, the close box, reject(), the countdown,
// cancel() from outside) and a window still open answer 2. The window ends
// once; finished() is emitted then.
#pragma once

#include "relay/AddressConfirmationDialog.h"
#include "relay/ConfirmationPresenter.h"

#include <QDialog>

#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace MAIL {

// Everything the window shows, taken from the model on the session thread.
struct ConfirmationContent {
    std::string subject;
    std::vector<ConfirmationRow> to, cc, bcc, attachments, security;
    bool toEnabled = true;
    bool confirmEachRecipient = false;
    std::string message;
    Countdown countdown{60};

    static ConfirmationContent from(const AddressConfirmationDialog& model);
};

class ConfirmationWindow : public QDialog {
    Q_OBJECT
public:
    // Running: a one-second timer drives the countdown. Manual: only tick()
    // does (tests drive the clock themselves).
    enum class Clock { Running, Manual };

    explicit ConfirmationWindow(ConfirmationContent content, Clock clock = Clock::Running,
                                QWidget* parent = nullptr);
    ~ConfirmationWindow() override;

    // 1 when the enabled OK button ended the window, 2 otherwise.
    int answer() const { return confirmed_ ? 1 : 2; }
    bool hasEnded() const { return ended_; }
    // True when the countdown ended the window.
    bool timedOut() const { return countdown_.remaining() < 0; }

    // Shows the window centred, above other windows, raised and active.
    void showOnTop();

public slots:
    // One second passed: counts the label down, or cancels when time is up.
    void tick();
    // Ends the window as its Cancel button would.
    void cancel();

    void accept() override;
    void reject() override;
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void confirm();
    // Whether the main box and every recipient row's box are checked.
    bool allTicked() const;
    QTreeWidget* makeList(const char* id, const QString& first, const QString& second);
    void fillRows(QTreeWidget* list, const std::vector<ConfirmationRow>& rows, const QIcon& normal,
                  const QIcon& flagged, bool tickFlagged = false);

    Countdown countdown_;
    Clock clock_;
    QCheckBox* confirmBox_ = nullptr;
    std::vector<QTreeWidgetItem*> tickedRows_;  // owned by their lists
    QPushButton* ok_ = nullptr;
    QLabel* countdownLabel_ = nullptr;
    QTimer* timer_ = nullptr;
    bool confirmed_ = false;
    bool ended_ = false;
};

} // namespace MAIL
