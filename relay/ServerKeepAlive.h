// ServerKeepAlive: keeps the server connection alive while a mail waits.
//
// While a mail waits for the user's answer, or sits in its hold, the server
// connection idles with the envelope open, and a server may give up on a
// silent client after five minutes (RFC 5321). While this object lives, a
// thread of its own sends NOOP after each interval of silence and reads the
// reply; nothing else may use the connection meanwhile. A send that fails,
// a reply that does not come within the interval, or one that is not 2xx
// counts as a lost server: lost() turns true and nothing more is sent. The
// destructor stops the thread and waits for it, a NOOP in flight included,
// so the session has the connection to itself again afterwards.
#pragma once

#include "relay/ReplyReader.h"
#include "relay/Socket.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace MAIL {

class ServerKeepAlive {
public:
    ServerKeepAlive(Transport& server, ReplyReader& replies);
    ~ServerKeepAlive();
    ServerKeepAlive(const ServerKeepAlive&) = delete;
    ServerKeepAlive& operator=(const ServerKeepAlive&) = delete;

    bool lost() const { return lost_.load(); }

    // The silence before a NOOP: 30 s; tests make it short.
    static void setInterval(std::chrono::milliseconds interval);

private:
    void run();
    bool noop();

    Transport& server_;
    ReplyReader& replies_;
    const std::chrono::milliseconds interval_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::atomic<bool> lost_{false};
    std::thread thread_;
};

} // namespace MAIL
