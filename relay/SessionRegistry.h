// SessionRegistry: the sessions that are running, for an orderly shut-down.
//
// Sessions add themselves when built and remove themselves when destroyed.
// stopAll() cancels the open confirmation and every held mail for good
// (their clients get the 450) and shuts down the sockets of every other
// session, except one that is forwarding a confirmed mail, which may finish. cutAll(), for the end of
// the grace period, shuts down the sockets of every session left, the
// forwarding ones included: a mail cut short never reaches its end mark, so
// its client never hears a 250 for it. One lock guards the set
// and the closing of session sockets, so a descriptor is never shut down
// after its session closed it (the number could belong to another file by
// then).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class SMTPCommunicator;

namespace MAIL {

class SessionRegistry {
public:
    static SessionRegistry& instance();

    void add(SMTPCommunicator* session);
    void remove(SMTPCommunicator* session);
    void stopAll();
    void cutAll();
    // True once cutAll() was called: no session is spared any more.
    bool cutting() const { return cutting_.load(); }
    std::size_t count();
    // Waits up to the limit until no session runs; true when none does.
    bool waitIdle(std::chrono::milliseconds limit);
    // The lock a session holds while it closes its sockets.
    std::mutex& socketLock(SMTPCommunicator*) { return lock_; }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::set<SMTPCommunicator*> sessions_;
    std::atomic<bool> cutting_{false};
};

} // namespace MAIL
