// The seam between the confirmation decision and whoever asks the user.
//
// AddressConfirmationDialog::showModal() hands its model to the presenter the
// program installed (a terminal prompt, a desktop dialog, a scripted one in
// tests). present() runs on the session thread and may block; it returns 1
// only when the user explicitly confirmed (OK after ticking the box). Every
// other end is 2: Cancel, Escape, closing, the countdown, a newer
// confirmation, shut-down, an exception, no presenter at all. A presenter
// watches its CancelToken and returns within a second of a cancel request.
// A 2 that was not the user's own answer is explained on the token (the
// countdown ran out, no one could be asked), so the record of decisions can
// say why the mail was not sent; a cancel request brings its own reason.
//
// Also here: the CancelToken and the Countdown that presenters share.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace MAIL {
class AddressConfirmationDialog;

// How a confirmation ended.
enum class ConfirmationEnd {
    Confirmed,   // the user confirmed
    Cancelled,   // the user said no (Cancel, Escape, the close box, a "no")
    TimedOut,    // the countdown ran out
    Replaced,    // a newer confirmation took its place
    ShutDown,    // the program is ending
    NoOneToAsk,  // no terminal, no display, no presenter, a presenter that failed
};

// A cancel request that a waiting presenter can block on.
class CancelToken {
public:
    // Requests the cancel. The first reason given, by a cancel or by
    // explain(), is the one that stays.
    void cancel(ConfirmationEnd why = ConfirmationEnd::Cancelled);
    bool isCancelled() const;
    // Waits up to the limit for a cancel request; true when cancelled.
    bool waitFor(int milliseconds) const;
    // A presenter's reason for a 2 that was not the user's answer.
    void explain(ConfirmationEnd why);
    // Why the confirmation was not confirmed: the first reason given, else
    // Cancelled.
    ConfirmationEnd reason() const;

private:
    mutable std::mutex lock_;
    mutable std::condition_variable signal_;
    bool cancelled_ = false;
    ConfirmationEnd why_ = ConfirmationEnd::Cancelled;
    bool explained_ = false;
};

// The countdown of a confirmation: with a timeout of T seconds the label
// counts T-1 down to 0 on ticks 1 to T, and tick T+1 cancels.
class Countdown {
public:
    explicit Countdown(int timeout) : timeout_(timeout) {}
    // The label before the first tick.
    std::string initialText() const;
    // One second passed: the new label, or nothing when the time is up.
    std::optional<std::string> tick();
    int remaining() const { return timeout_ - elapsed_; }

private:
    int timeout_;
    int elapsed_ = 0;
};

std::string countdownText(int seconds);

class ConfirmationPresenter {
public:
    virtual ~ConfirmationPresenter() = default;
    virtual int present(const AddressConfirmationDialog& model, CancelToken& cancel) = 0;
};

// Installs the presenter (before any session starts); null removes it.
void setConfirmationPresenter(std::shared_ptr<ConfirmationPresenter> presenter);
std::shared_ptr<ConfirmationPresenter> confirmationPresenter();

// Cancels the confirmation that is open, if any. With closing, every later
// confirmation is refused at once (the program is shutting down).
void cancelOpenConfirmation(bool closing);
// Lets confirmations be asked and mails held again (tests that simulate a
// shut-down).
void reopenConfirmations();

} // namespace MAIL
