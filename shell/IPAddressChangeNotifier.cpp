#include "shell/IPAddressChangeNotifier.h"

#include "foundation/Diagnostics.h"
#include "foundation/Exception.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace MAIL {

namespace {

// Closes a descriptor when the watcher's loop ends, however it ends.
class ScopedDescriptor {
public:
    explicit ScopedDescriptor(int descriptor) : descriptor_(descriptor) {}
    ScopedDescriptor(const ScopedDescriptor&) = delete;
    ScopedDescriptor& operator=(const ScopedDescriptor&) = delete;
    ~ScopedDescriptor()
    {
        if (descriptor_ >= 0)
            ::close(descriptor_);
    }
    int get() const { return descriptor_; }

private:
    int descriptor_;
};

} // namespace

IPAddressChangeNotifier::IPAddressChangeNotifier(Post post)
    : IPAddressChangeNotifier(std::move(post), NetworkInterfaces::Query())
{
}

IPAddressChangeNotifier::IPAddressChangeNotifier(Post post, NetworkInterfaces::Query query)
    : interfaces_(std::move(query)), post_(std::move(post))
{
    terminateEvent_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (terminateEvent_ < 0)
        throw Exception(errno, "IPAddressChangeNotifier#IPAddressChangeNotifier,1,Failed to create the stop event");
}

IPAddressChangeNotifier::~IPAddressChangeNotifier()
{
    // The owner stops and waits before deleting; should it not have, the
    // thread must not go on using this object.
    if (wait(0) == ThreadHandle::WaitTimeout) {
        stop();
        wait(ThreadHandle::Infinite);
    }
    ::close(terminateEvent_);
    interfaces_.clear();
}

void IPAddressChangeNotifier::run()
{
    // Subscribe first: a change between the first query and the wait is
    // then waiting on the socket instead of lost.
    const ScopedDescriptor source(openChangeSource());
    const int openError = errno;

    notifyNow();

    if (source.get() < 0) {
        diagnostic("NotifyAddrChange error...%d\n", openError);
        std::fprintf(stderr, "Pelorus: cannot watch for network changes (%s); no further connection notices.\n",
                     std::strerror(openError));
        return;
    }

    pollfd waits[2] = {{terminateEvent_, POLLIN, 0}, {source.get(), POLLIN, 0}};
    for (;;) {
        if (::poll(waits, 2, -1) < 0)
            continue;  // EINTR, or ENOMEM for a moment
        if (waits[0].revents != 0) {
            diagnostic("\nTerminateEvent has been set, so break this thread loop\n");
            break;
        }
        if (waits[1].revents != 0 && drainChanges(source.get()))
            notifyIfChanged();
    }
}

void IPAddressChangeNotifier::notifyNow()
{
    const int state = currentState();
    lastState_ = state;
    if (post_)
        post_(state);
}

void IPAddressChangeNotifier::notifyIfChanged()
{
    const int state = currentState();
    if (state == lastState_.exchange(state))
        return;
    if (post_)
        post_(state);
}

void IPAddressChangeNotifier::stop()
{
    const std::uint64_t one = 1;
    // Fails only when the counter is full, and then it is signalled anyway.
    if (::write(terminateEvent_, &one, sizeof one) < 0)
        return;
}

int IPAddressChangeNotifier::openChangeSource()
{
    const int socket = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (socket < 0)
        return -1;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_LINK;
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(socket);
        errno = error;
        return -1;
    }
    return socket;
}

int IPAddressChangeNotifier::currentState()
{
    return interfaces_.refreshConnected() ? Connected : NotConnected;
}

bool IPAddressChangeNotifier::drainChanges(int source)
{
    // The events only say that something changed; the interface query says
    // what. A burst is read to its end and answered with one query.
    bool changed = false;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::recv(source, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
            changed = true;
            continue;
        }
        if (got == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return changed;
        // ENOBUFS: the kernel dropped events, so a change may have been
        // missed. Anything else is answered the same way, with a new query.
        if (errno == ENOBUFS) {
            changed = true;
            continue;
        }
        return true;
    }
}

} // namespace MAIL
