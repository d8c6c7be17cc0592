// TerminalPresenter: the confirmation asked at a terminal (headless mode).
//
// present() prints the confirmation (title, subject, one line per row such
// as "To: ann@corp.example | " or "Bcc: eve@evil.example | x", the message
// text), then the countdown line and the question, and waits for the
// answer. Only "y" or "yes" (any case, blanks around ignored) and Enter
// send the mail; any other line, end of input, the countdown running out or
// the CancelToken (a newer confirmation, shut-down) cancel it. When the
// model confirms each recipient on its own, a yes is followed by
// "Send to ADDRESS? [y/N] " for each flagged recipient in turn, each taking
// the same answers; the countdown runs on over all of them. Input typed
// before the question appeared is discarded, so a "y" meant for one mail
// never confirms another.
//
// Only a terminal on the input, with the proxy in its foreground process
// group, can confirm (reading from the background would stop the whole
// proxy). Without one the confirmation is printed, followed by
// "Cancelled: no one to confirm this mail.", and the mail is cancelled. The
// token is told why: TimedOut for the countdown, NoOneToAsk when no one is
// at the terminal.
//
// One question is open at a time: the registry cancels the older one when a
// newer confirmation is shown, and the newer waits until the older has left
// the terminal. Notices printed through the presenter's notification sink
// never land inside a confirmation: they wait until its block has been
// printed and appear above the question, which is printed again.
//
// A mail held before it goes (HeldMails) is announced through the same
// output as the notices: "Sending in N s: 'SUBJECT'. Type u K and Enter to
// undo.". While no question is open and some mail is held, a reader thread
// reads the input's lines (only on a terminal with the proxy in its
// foreground process group, like the answers): "u K" (blanks ignored, any
// case) undoes mail K, or says "No mail K is held."; any other line is
// ignored. An open question takes every line typed for it, so a "u 1" typed
// under it answers that question instead. What was typed while nothing was
// held is discarded when the first mail is held, so an old line undoes
// nothing. The reader stops with the presenter.
//
// No call blocks on the terminal indefinitely: input is awaited in poll with
// the tick interval (the CancelToken is looked at every 100 ms at most), and
// output that the terminal does not take within half a second is given up.
#pragma once

#include "relay/ConfirmationPresenter.h"
#include "relay/HeldMails.h"
#include "relay/Notifications.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace MAIL {

struct TerminalOptions {
    int input = 0;   // where the answer is read
    int output = 2;  // where the confirmation and the notices are printed
    // One second of the countdown; tests make it short instead of waiting.
    std::chrono::milliseconds tick{1000};
};

class TerminalPresenter : public ConfirmationPresenter {
public:
    static constexpr const char* AnswerPrompt = "Send this mail? [y/N] ";
    static constexpr const char* NoTerminalText = "Cancelled: no one to confirm this mail.";

    explicit TerminalPresenter(TerminalOptions options = {});
    ~TerminalPresenter() override;
    TerminalPresenter(const TerminalPresenter&) = delete;
    TerminalPresenter& operator=(const TerminalPresenter&) = delete;

    // 1 when the user answered yes, 2 otherwise.
    int present(const AddressConfirmationDialog& model, CancelToken& cancel) override;

    // Prints a notice: "Pelorus: info: ..." (warning, error).
    void showBalloon(const Balloon& balloon);
    // A sink printing through this presenter; it keeps the output's state
    // alive, so it may outlive the presenter.
    NotificationSink notificationSink() const;
    // A watcher announcing each held mail through this presenter; the first
    // call starts the reader of "u K" lines. Like the sink, the watcher may
    // outlive the presenter (it then only prints).
    HeldMails::Watcher holdWatcher();

private:
    struct Screen;
    int ask(const AddressConfirmationDialog& model, CancelToken& cancel, const std::string& block);

    TerminalOptions options_;
    std::shared_ptr<Screen> screen_;
    std::thread reader_;
};

// Installs the presenter's notification sink (setNotificationSink).
void installTerminalNotificationSink(const std::shared_ptr<TerminalPresenter>& presenter);
// Installs the presenter's hold watcher (HeldMails::setWatcher); a null
// presenter removes it.
void installTerminalHoldWatcher(const std::shared_ptr<TerminalPresenter>& presenter);

// True when fd is a terminal whose foreground process group is ours.
bool isForegroundTerminal(int fd);

} // namespace MAIL
