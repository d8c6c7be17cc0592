#include "foundation/Thread.h"

#include "foundation/Diagnostics.h"
#include "foundation/Exception.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <string>

#include <system_error>
#include <thread>

#include <sys/syscall.h>
#include <unistd.h>

namespace MAIL {

namespace detail {

// What the object and its running thread share. It outlives whichever of
// the two goes last.
struct ThreadState {
    std::mutex lock;
    std::condition_variable endedSignal;
    bool started = false;
    bool ended = false;
    std::uint32_t exitCode = ThreadHandle::StillActive;
    std::uint32_t threadId = 0;
};

// What the entry needs: the object to run and its own reference to the state.
struct Launch {
    Thread* self;
    std::shared_ptr<ThreadState> state;
};

} // namespace detail

ThreadHandle::ThreadHandle(std::shared_ptr<detail::ThreadState> state) : state_(std::move(state)) {}

std::uint32_t ThreadHandle::wait(std::uint32_t milliseconds) const
{
    if (!state_)
        return WaitFailed;
    std::unique_lock guard(state_->lock);
    if (!state_->started)
        return WaitFailed;
    auto ended = [this] { return state_->ended; };
    if (milliseconds == Infinite) {
        state_->endedSignal.wait(guard, ended);
        return WaitObject0;
    }
    return state_->endedSignal.wait_for(guard, std::chrono::milliseconds(milliseconds), ended)
               ? WaitObject0
               : WaitTimeout;
}

std::uint32_t ThreadHandle::exitCode() const
{
    if (!state_)
        return StillActive;
    std::lock_guard guard(state_->lock);
    return state_->exitCode;
}

Thread::Thread(void* argument, unsigned stackSize, int parameter)
    : argument_(argument), parameter_(parameter), stackSize_(stackSize)
{
    try {
        state_ = std::make_shared<detail::ThreadState>();
    } catch (const std::bad_alloc&) {
        throw Exception(Exception::OutOfMemory, "Thread#Thread,1,Failed to create a thread");
    }
}

Thread::~Thread() = default;

void Thread::run() {}

unsigned Thread::start()
{
    {
        std::lock_guard guard(state_->lock);
        if (state_->started)
            return 0;
        state_->started = true;
    }
    // The thread is detached at once: its end is observed through the state
    // block, and no joinable std::thread is ever left for a destructor (a
    // session deletes its own object from inside run()).
    try {
        std::thread(&Thread::entry, detail::Launch{this, state_}).detach();
    } catch (const std::system_error& e) {
        std::lock_guard guard(state_->lock);
        state_->started = false;
        throw Exception(e.code().value(), "Thread#Thread,1,Failed to create a thread");
    } catch (const std::bad_alloc&) {
        std::lock_guard guard(state_->lock);
        state_->started = false;
        throw Exception(Exception::OutOfMemory, "Thread#Thread,1,Failed to create a thread");
    }
    return 1;
}

void Thread::entry(detail::Launch launch)
{
    std::shared_ptr<detail::ThreadState> state = std::move(launch.state);
    {
        std::lock_guard guard(state->lock);
        state->threadId = static_cast<std::uint32_t>(::syscall(SYS_gettid));
    }
    try {
        launch.self->run();
    } catch (const Exception& e) {
        std::string line = "Thread#entry,1,Exception escaped run: ";
        line += e.getMessage();
        reportFailure(line);
    } catch (int code) {
        reportFailure("Thread#entry,1,Error code escaped run: " + std::to_string(code));
    } catch (const std::exception& e) {
        std::string line = "Thread#entry,1,Exception escaped run: ";
        line += e.what();
        reportFailure(line);
    } catch (...) {
        reportFailure("Thread#entry,1,Unknown exception escaped run");
    }
    // From here on the object may be gone (run() may have deleted it):
    // only the state block is touched.
    std::lock_guard guard(state->lock);
    state->exitCode = 1;
    state->ended = true;
    state->endedSignal.notify_all();
}

std::uint32_t Thread::wait(std::uint32_t milliseconds) { return getHandle().wait(milliseconds); }

ThreadHandle Thread::getHandle() const { return ThreadHandle(state_); }

std::uint32_t Thread::getThreadId() const
{
    std::lock_guard guard(state_->lock);
    return state_->threadId;
}

} // namespace MAIL
