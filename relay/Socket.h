// Socket: the owner of one connected TCP socket.
//
// Every byte the relay exchanges with a mail client or an SMTP server goes
// through a Socket. Waits block in poll() with a time limit, so an idle
// session costs no CPU. Sends never raise SIGPIPE (a peer that has gone is a
// send failure). The Socket closes its descriptor when destroyed.
//
// receive() returns the byte count, 0 when the peer closed, or -1 on failure
// or when the time limit passed (timedOut() tells which). sendAll() returns
// the length when everything was sent, -1 without a descriptor, or -2 when
// the time limit passed or the connection failed with bytes unsent.
//
// Transport is what a session talks to the SMTP server through: the plain
// Socket itself, or the TLS layer over it (TlsTransport). Both keep the
// results above, so readers and senders do not care which one they have.
#pragma once

#include "foundation/Object.h"

#include <cstddef>
#include <sys/types.h>

namespace MAIL {

// A byte stream to a peer, plain or encrypted.
class Transport {
public:
    virtual ~Transport() = default;
    // Up to size bytes, waiting at most the limit for the first: the count,
    // 0 when the peer closed in order, -1 on failure or time-out.
    virtual ssize_t receive(char* buffer, std::size_t size, int milliseconds) = 0;
    // Everything, within the limit: the length, -1 when unusable, -2 when
    // the limit passed or the connection failed with bytes unsent.
    virtual ssize_t sendAll(const char* data, std::size_t length, int seconds) = 0;
    // Whether the last call failed because its time limit passed.
    virtual bool timedOut() const = 0;
};

class Socket : public Object, public Transport {
public:
    static constexpr int NoLimit = -1;

    Socket() = default;
    explicit Socket(int descriptor) : handle_(descriptor) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() override;

    // Takes a connected descriptor; a previous one is not closed.
    void attach(int descriptor) { handle_ = descriptor; }
    // Shuts down both directions and closes; false when there was none.
    bool close();
    // shutdown(2) on the descriptor; -1 without one.
    int shutdown(int how);

    // Waits up to the limit (milliseconds, NoLimit = none) for readability
    // or writability.
    bool waitReadable(int milliseconds);
    bool waitWritable(int milliseconds);

    // Receives up to size bytes, waiting at most the limit for the first.
    ssize_t receive(char* buffer, std::size_t size, int milliseconds) override;
    // Sends everything, within the limit in whole seconds.
    ssize_t sendAll(const char* data, std::size_t length, int seconds) override;

    bool timedOut() const override { return timedOut_; }
    int getHandle() const { return handle_; }

private:
    int handle_ = -1;
    bool timedOut_ = false;
};

} // namespace MAIL
