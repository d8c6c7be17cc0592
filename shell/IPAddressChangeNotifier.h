// IPAddressChangeNotifier: the thread that tells the main thread whether the
// machine is connected, once at start and again whenever an address or link
// change alters the answer.
//
// A notice is a call of the post function with 1 (connected) or 0 (not
// connected) on the watcher's thread; the function hands it to the main
// thread, which turns it into a balloon. The first notice always goes out,
// whatever the state; later ones only when the state differs from the last
// one posted. A failed interface query counts as "not connected".
//
// Changes come from a netlink route socket subscribed to IPv4 address and
// link events, waited for together with a stop event. The socket is opened
// before the first query, so nothing that happens between the first notice
// and the wait is missed. Events lost in a burst (ENOBUFS) count as a change.
// Only a socket that cannot be opened or bound ends the watcher early, after
// its first notice and a line on standard error.
//
// Lifecycle: constructed suspended, start(), and at the end stop() from any
// thread (it wakes the wait at once), then wait() by the owner, who deletes
// the object. The thread never deletes itself; the destructor stops and
// waits for a thread its owner left running.
#pragma once

#include "foundation/Thread.h"
#include "shell/NetworkInterfaces.h"

#include <atomic>
#include <functional>

namespace MAIL {

class IPAddressChangeNotifier : public Thread {
public:
    using Post = std::function<void(int state)>;

    static constexpr int Connected = 1;
    static constexpr int NotConnected = 0;

    // Builds the thread suspended with the system's interface list. Raises
    // Exception (the system's error code) when the stop event cannot be made.
    explicit IPAddressChangeNotifier(Post post);
    // The same with the interface records taken from query.
    IPAddressChangeNotifier(Post post, NetworkInterfaces::Query query);
    ~IPAddressChangeNotifier() override;

    // Posts the first notice, then a notice whenever the state changes,
    // until stopped.
    void run() override;

    // Queries the interfaces and posts the state.
    virtual void notifyNow();
    // Queries the interfaces and posts the state when it differs from the
    // last one posted.
    virtual void notifyIfChanged();

    // Ends the wait and the thread; may be called from any thread, before or
    // while the thread runs, and more than once.
    void stop();

    // The state of the last notice (0 before any).
    int getLastState() const { return lastState_.load(); }

protected:
    // Opens the change source: a non-blocking, close-on-exec descriptor that
    // becomes readable when something changed; -1 with errno set on failure.
    // The default is the netlink route socket.
    virtual int openChangeSource();

private:
    int currentState();
    // Reads everything waiting on the change source: true when anything
    // changed (or was lost).
    bool drainChanges(int source);

    NetworkInterfaces interfaces_;
    Post post_;
    int terminateEvent_ = -1;  // eventfd, signalled by stop()
    std::atomic<int> lastState_{NotConnected};
};

} // namespace MAIL
