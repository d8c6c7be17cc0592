#include "relay/HeldMails.h"

namespace MAIL {

HeldMails& HeldMails::instance()
{
    static HeldMails registry;
    return registry;
}

void HeldMails::setWatcher(Watcher watcher)
{
    std::lock_guard guard(lock_);
    watcher_ = std::move(watcher);
}

HeldMails::Watcher HeldMails::watcher()
{
    std::lock_guard guard(lock_);
    return watcher_;
}

int HeldMails::hold(const std::string& subject, int seconds, CancelToken& token)
{
    HeldMail mail{0, subject, seconds};
    bool closed = false;
    {
        std::lock_guard guard(lock_);
        mail.number = ++lastNumber_;
        closed = closed_;
        held_.emplace(mail.number, Entry{mail, &token, !closed});
        if (closed)
            token.cancel(ConfirmationEnd::ShutDown);
    }
    // Undone as it begins: nobody is offered an undo that cannot work.
    if (const Watcher tell = watcher(); tell && !closed)
        tell(HoldEvent::Began, mail);
    return mail.number;
}

void HeldMails::release(int number)
{
    HeldMail mail;
    bool announced = false;
    {
        std::lock_guard guard(lock_);
        const auto found = held_.find(number);
        if (found == held_.end())
            return;
        mail = found->second.mail;
        announced = found->second.announced;
        held_.erase(found);
    }
    if (const Watcher tell = watcher(); tell && announced)
        tell(HoldEvent::Ended, mail);
}

bool HeldMails::undo(int number)
{
    std::lock_guard guard(lock_);
    const auto found = held_.find(number);
    if (found == held_.end())
        return false;
    found->second.token->cancel(ConfirmationEnd::Cancelled);
    return true;
}

void HeldMails::undoAll()
{
    std::lock_guard guard(lock_);
    closed_ = true;
    for (auto& [number, entry] : held_)
        entry.token->cancel(ConfirmationEnd::ShutDown);
}

void HeldMails::reopen()
{
    std::lock_guard guard(lock_);
    closed_ = false;
}

std::vector<HeldMail> HeldMails::list()
{
    std::lock_guard guard(lock_);
    std::vector<HeldMail> mails;
    for (const auto& [number, entry] : held_)
        mails.push_back(entry.mail);
    return mails;
}

} // namespace MAIL
