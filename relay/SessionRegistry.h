// SessionRegistry: the sessions that are running, for an orderly shut-down.
//
// Sessions add themselves when built and remove themselves when destroyed.
// stopAll() cancels the open confirmation for good (its client gets the
// 450) and shuts down the sockets of every other session, except one that
// is forwarding a confirmed mail, which may finish. One lock guards the set
// and the closing of session sockets, so a descriptor is never shut down
// after its session closed it (the number could belong to another file by
// then).
#pragma once

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
    std::size_t count();
    // The lock a session holds while it closes its sockets.
    std::mutex& socketLock(SMTPCommunicator*) { return lock_; }

private:
    std::mutex lock_;
    std::set<SMTPCommunicator*> sessions_;
};

} // namespace MAIL
