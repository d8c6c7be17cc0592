#include "relay/SessionRegistry.h"

#include "relay/ConfirmationPresenter.h"
#include "relay/HeldMails.h"
#include "relay/SMTPCommunicator.h"

namespace MAIL {

SessionRegistry& SessionRegistry::instance()
{
    static SessionRegistry registry;
    return registry;
}

void SessionRegistry::add(SMTPCommunicator* session)
{
    std::lock_guard guard(lock_);
    sessions_.insert(session);
}

void SessionRegistry::remove(SMTPCommunicator* session)
{
    std::lock_guard guard(lock_);
    sessions_.erase(session);
    changed_.notify_all();
}

void SessionRegistry::stopAll()
{
    cancelOpenConfirmation(true);
    HeldMails::instance().undoAll();
    std::lock_guard guard(lock_);
    for (SMTPCommunicator* session : sessions_)
        session->requestStop();
}

void SessionRegistry::cutAll()
{
    cutting_.store(true);
    stopAll();
}

bool SessionRegistry::waitIdle(std::chrono::milliseconds limit)
{
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, limit, [this] { return sessions_.empty(); });
}

std::size_t SessionRegistry::count()
{
    std::lock_guard guard(lock_);
    return sessions_.size();
}

} // namespace MAIL
