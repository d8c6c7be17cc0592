// Thread: the base of every long-running activity (listener, sessions,
// connectivity watcher).
//
// A Thread is built "suspended": constructed but not running. start()
// launches a system thread that calls run() and returns 1, or 0 when the
// thread was already started. The run state lives in a control block shared
// by the object and the running thread; once run() has returned, the thread
// touches only that block. So a thread whose run() ends by deleting its own
// object (a session, the listener) can still be waited for through a
// ThreadHandle taken before: owners of self-deleting threads keep handles,
// never pointers.
//
// Waits return 0 when the thread has ended and 258 on time-out; a time-out
// of all ones waits without limit. Anything escaping run() is caught, reported
// through reportFailure() and ends the thread with exit code 1, never the
// process. The exit code is always 1.
#pragma once

#include "foundation/Object.h"

#include <cstdint>
#include <memory>

namespace MAIL {

namespace detail {
struct ThreadState;
struct Launch;
}

class ThreadHandle {
public:
    static constexpr std::uint32_t Infinite = 0xFFFFFFFFu;
    static constexpr std::uint32_t WaitObject0 = 0;
    static constexpr std::uint32_t WaitTimeout = 258;
    static constexpr std::uint32_t WaitFailed = 0xFFFFFFFFu;
    static constexpr std::uint32_t StillActive = 259;

    ThreadHandle() = default;

    // True when the handle refers to a thread object's control block.
    bool isValid() const { return state_ != nullptr; }

    // Waits for the thread to end: 0 when it ended, 258 on time-out,
    // WaitFailed for an empty handle or a thread that was never started.
    std::uint32_t wait(std::uint32_t milliseconds) const;

    // 259 while the thread runs (or was never started), then its exit code.
    std::uint32_t exitCode() const;

private:
    friend class Thread;
    explicit ThreadHandle(std::shared_ptr<detail::ThreadState> state);
    std::shared_ptr<detail::ThreadState> state_;
};

class Thread : public Object {
public:
    // The argument, stack size and parameter are kept, not interpreted
    // (every thread of the program uses the system's default stack).
    Thread(void* argument = nullptr, unsigned stackSize = 0, int parameter = 0);
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    // Never stops or waits for the thread.
    ~Thread() override;

    // The body, run on the new thread; does nothing here.
    virtual void run();

    // Launches the thread: 1 when launched, 0 when it already was. Raises
    // Exception (the system's error code, "Thread#Thread,1,Failed to create
    // a thread") when the system refuses; the object then stays unstarted.
    virtual unsigned start();

    // Waits for the end of run() (see ThreadHandle::wait).
    std::uint32_t wait(std::uint32_t milliseconds);

    ThreadHandle getHandle() const;
    std::uint32_t getThreadId() const;
    void* getArgument() const { return argument_; }
    int getParameter() const { return parameter_; }

private:
    static void entry(detail::Launch launch);

    void* argument_;
    int parameter_;
    unsigned stackSize_;
    std::shared_ptr<detail::ThreadState> state_;
};

} // namespace MAIL
