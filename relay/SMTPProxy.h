// SMTPProxy: the listener on the proxy port.
//
// The constructor opens the listening socket on ListenAddress:ProxyPort
// (loopback by default) on the caller's thread; when it cannot, it shows a
// message box and throws ERR_SOCKET, ERR_SETSOCKOPT, ERR_BIND or ERR_LISTEN
// (a ListenAddress that is not a dotted IPv4 address fails like a bind).
// run() accepts clients and starts one session per connection, reading
// Server, Port and the Security settings afresh for each, until stop();
// nothing else ends it, so a running program never stops listening
// silently. stop() wakes run() through an eventfd, and only that wake-up
// ends the loop, whatever connections arrive meanwhile; so the object stays
// alive until stop() is done with it. The object deletes itself when run()
// ends: an owner calls stop() once and then waits on the ThreadHandle it
// took before, never touching the object again.
#pragma once

#include "foundation/Thread.h"

#include <atomic>
#include <cstdint>

class SMTPProxy : public MAIL::Thread {
public:
    SMTPProxy();
    SMTPProxy(const SMTPProxy&) = delete;
    SMTPProxy& operator=(const SMTPProxy&) = delete;
    ~SMTPProxy() override;

    void run() override;
    // Ends the accept loop; once per started listener. The object may be
    // gone as soon as this returns.
    void stop();

    std::uint16_t getPort() const { return port_; }
    // The system error (errno) behind the last failed construction on
    // this thread, so the program can say why it cannot listen.
    static int lastSystemError();
    // The listening address, network byte order.
    std::uint32_t getAddress() const { return address_; }

private:
    void acceptOne();
    void closeSockets();

    std::uint16_t port_ = 0;
    std::uint32_t address_ = 0;
    int listenSocket_ = -1;
    int stopEvent_ = -1;
    std::atomic<bool> looping_{false};
    bool resourceErrorLogged_ = false;
};
