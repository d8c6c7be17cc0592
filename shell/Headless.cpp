// The terminal front end: the proxy runs, notices go to standard error,
// confirmations are asked at the terminal prompt and held mails are undone
// with "u K" there. The main thread waits in
// poll for a connectivity state (from the watcher's thread) or a signal.
#include "shell/Program.h"

#include "config/LogWriter.h"
#include "relay/ConfirmationPresenter.h"
#include "relay/Notifications.h"
#include "shell/ProxyService.h"
#include "shell/TerminalPresenter.h"

#include <csignal>
#include <cstdio>
#include <deque>
#include <mutex>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace MAIL {

namespace {

// Connectivity states handed from the watcher's thread to the main thread.
class StateQueue {
public:
    StateQueue() : event_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    StateQueue(const StateQueue&) = delete;
    StateQueue& operator=(const StateQueue&) = delete;
    ~StateQueue() { ::close(event_); }

    void post(int state)
    {
        {
            std::lock_guard guard(lock_);
            states_.push_back(state);
        }
        const std::uint64_t one = 1;
        (void)::write(event_, &one, sizeof one);
    }
    std::deque<int> take()
    {
        std::uint64_t count = 0;
        (void)::read(event_, &count, sizeof count);
        std::lock_guard guard(lock_);
        std::deque<int> taken;
        taken.swap(states_);
        return taken;
    }
    int descriptor() const { return event_; }

private:
    int event_;
    std::mutex lock_;
    std::deque<int> states_;
};

} // namespace

int runHeadless(const ProgramOptions& /*options*/)
{
    auto presenter = std::make_shared<TerminalPresenter>();
    installTerminalNotificationSink(presenter);
    installTerminalHoldWatcher(presenter);
    setConfirmationPresenter(presenter);
    remindOfMissingServer();

    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGHUP);
    const int signals = ::signalfd(-1, &ending, SFD_CLOEXEC);

    StateQueue states;
    ProxyService service;
    try {
        service.start([&states](int state) { states.post(state); });
    } catch (int code) {
        std::string lines;
        const int status = listenerFailure(code, lines);
        std::fprintf(stderr, "%s\n", lines.c_str());
        ::close(signals);
        return status;
    }

    for (;;) {
        pollfd waits[2] = {{signals, POLLIN, 0}, {states.descriptor(), POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0)
            continue;  // EINTR
        if (waits[0].revents != 0) {
            signalfd_siginfo info{};
            (void)::read(signals, &info, sizeof info);
            debug(getLogWriter(), "Pelorus#WinMain,6,Signal %u, shutting down", info.ssi_signo);
            break;
        }
        for (int state : states.take())
            if (const std::optional<std::string> text = service.notice(state))
                showInfoBalloon(*text);
    }
    service.stop();
    ::close(signals);
    installTerminalHoldWatcher(nullptr);
    setConfirmationPresenter(nullptr);
    return 0;
}

} // namespace MAIL
