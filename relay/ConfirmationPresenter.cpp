#include "relay/ConfirmationPresenter.h"

#include "config/LogWriter.h"
#include "relay/ConfirmationRegistry.h"
#include "relay/HeldMails.h"

#include <chrono>
#include <cstdio>

namespace MAIL {

namespace {

std::mutex presenterLock;
std::shared_ptr<ConfirmationPresenter> installed;

} // namespace

void CancelToken::cancel(ConfirmationEnd why)
{
    {
        std::lock_guard guard(lock_);
        if (!cancelled_ && !explained_)
            why_ = why;
        cancelled_ = true;
    }
    signal_.notify_all();
}

void CancelToken::explain(ConfirmationEnd why)
{
    std::lock_guard guard(lock_);
    if (cancelled_ || explained_)
        return;
    why_ = why;
    explained_ = true;
}

ConfirmationEnd CancelToken::reason() const
{
    std::lock_guard guard(lock_);
    return why_;
}

bool CancelToken::isCancelled() const
{
    std::lock_guard guard(lock_);
    return cancelled_;
}

bool CancelToken::waitFor(int milliseconds) const
{
    std::unique_lock guard(lock_);
    return signal_.wait_for(guard, std::chrono::milliseconds(milliseconds), [this] { return cancelled_; });
}

std::string countdownText(int seconds)
{
    char text[96];
    std::snprintf(text, sizeof text, "This mail is automatically cancelled in (%d) seconds.", seconds);
    return text;
}

std::string Countdown::initialText() const { return countdownText(60); }

std::optional<std::string> Countdown::tick()
{
    ++elapsed_;
    if (elapsed_ > timeout_) {
        debug(getLogWriter(), "SMTPCommunicator#DialogProc,1,WM_TIME,timeout, so cancel a message");
        return std::nullopt;
    }
    return countdownText(timeout_ - elapsed_);
}

void setConfirmationPresenter(std::shared_ptr<ConfirmationPresenter> presenter)
{
    std::lock_guard guard(presenterLock);
    installed = std::move(presenter);
}

std::shared_ptr<ConfirmationPresenter> confirmationPresenter()
{
    std::lock_guard guard(presenterLock);
    return installed;
}

void cancelOpenConfirmation(bool closing) { ConfirmationRegistry::instance().cancelOpen(closing); }

void reopenConfirmations()
{
    ConfirmationRegistry::instance().reopen();
    HeldMails::instance().reopen();
}

} // namespace MAIL
