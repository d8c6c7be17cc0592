// ProxyService: the part of the program every front end shares, the
// connectivity watcher, the listener and the sessions, with the start-up
// and shut-down order around them.
//
// start() starts the watcher, then the listener; a listener that cannot be
// created throws its relay code (the watcher is stopped again first).
// Connectivity states arrive through the given function on the watcher's
// thread; the front end hands them to its main thread, where notice() turns
// them into the start-up notice (the first one) or a plain one; before a
// start that succeeded there is no notice at all. stop() stops the watcher
// and the listener and waits for them, then asks the sessions to end: an
// open confirmation is cancelled (its client gets the 450), other sessions
// have their sockets shut down, a session forwarding a confirmed mail may
// finish. It waits up to five seconds for them; then the sockets of every
// session left are shut down and it waits up to two seconds more. Last it
// removes what is left in the spool folder. A session that still runs then
// must not outlive the process's shared state: the program ends with
// endProcess() (Program.h).
#pragma once

#include "foundation/Thread.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class SMTPProxy;

namespace MAIL {

class IPAddressChangeNotifier;

class ProxyService {
public:
    using ConnectivityPost = std::function<void(int state)>;

    ProxyService();
    ProxyService(const ProxyService&) = delete;
    ProxyService& operator=(const ProxyService&) = delete;
    ~ProxyService();

    void start(ConnectivityPost post);
    void stop();

    // Moves the listener to the stored ProxyPort: the new listener is made
    // first and the old one stopped only once the new one listens. Throws
    // the relay code (the old listener still running) when it cannot.
    void restartListener();

    // The notice text for a connectivity state; the first call after a
    // successful start() gives the start-up notice, none comes before.
    std::optional<std::string> notice(int state);
    bool isListening() const { return listener_ != nullptr; }
    std::uint16_t listeningPort() const { return port_; }

private:
    void startListener();
    void stopListener();

    std::unique_ptr<IPAddressChangeNotifier> watcher_;
    SMTPProxy* listener_ = nullptr;  // owned by its thread once started
    ThreadHandle listenerHandle_;
    std::uint16_t port_ = 0;
    bool started_ = false;
    bool firstNotice_ = true;
};

} // namespace MAIL
