#include "relay/ConfirmationRegistry.h"

#include "config/LogWriter.h"

namespace MAIL {

ConfirmationRegistry& ConfirmationRegistry::instance()
{
    static ConfirmationRegistry registry;
    return registry;
}

bool ConfirmationRegistry::open(CancelToken& token)
{
    std::lock_guard guard(lock_);
    if (closed_)
        return false;
    if (open_ != nullptr) {
        debug(getLogWriter(),
              "AddressConfirmationDialog#AddressConfirmationDialog,2,Found an ConfirmationDialog and Post cancel");
        open_->cancel(ConfirmationEnd::Replaced);
    }
    open_ = &token;
    return true;
}

void ConfirmationRegistry::close(CancelToken& token)
{
    std::lock_guard guard(lock_);
    if (open_ == &token)
        open_ = nullptr;
}

void ConfirmationRegistry::cancelOpen(bool closing)
{
    std::lock_guard guard(lock_);
    if (closing)
        closed_ = true;
    if (open_ != nullptr)
        open_->cancel(ConfirmationEnd::ShutDown);
}

void ConfirmationRegistry::reopen()
{
    std::lock_guard guard(lock_);
    closed_ = false;
}

} // namespace MAIL
