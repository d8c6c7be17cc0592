// ConfirmationRegistry: only one confirmation is open at a time.
//
// A newer confirmation cancels the open one when it is shown (not when its
// model is built, so a mail whose recipients are all trusted never cancels
// someone else's question). After a closing cancel (shut-down) every later
// confirmation is refused at once.
#pragma once

#include "relay/ConfirmationPresenter.h"

#include <mutex>

namespace MAIL {

class ConfirmationRegistry {
public:
    static ConfirmationRegistry& instance();

    // Makes token the open confirmation, cancelling the one before. False
    // when confirmations are closed (then nothing may be asked).
    bool open(CancelToken& token);
    // Forgets token if it is still the open one.
    void close(CancelToken& token);
    void cancelOpen(bool closing);
    void reopen();

private:
    std::mutex lock_;
    CancelToken* open_ = nullptr;
    bool closed_ = false;
};

} // namespace MAIL
