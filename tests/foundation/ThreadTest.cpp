#include "foundation/Diagnostics.h"
#include "foundation/Exception.h"
#include "foundation/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>

using MAIL::Thread;
using MAIL::ThreadHandle;

namespace {

// Blocks in run() until released.
class Gate : public Thread {
public:
    void run() override { release.get_future().wait(); }
    std::promise<void> release;
};

// Deletes its own object at the end of run(), as sessions do.
class SelfDeleting : public Thread {
public:
    explicit SelfDeleting(std::atomic<bool>& destroyed) : destroyed_(destroyed) {}
    ~SelfDeleting() override { destroyed_ = true; }
    void run() override
    {
        payload_.assign(4096, 'p');  // touched by ASan if used after free
        delete this;
    }

private:
    std::atomic<bool>& destroyed_;
    std::string payload_;
};

class Throwing : public Thread {
public:
    explicit Throwing(int kind) : kind_(kind) {}
    void run() override
    {
        if (kind_ == 0)
            throw MAIL::Exception(5, "boom");
        if (kind_ == 1)
            throw -1501;
        throw std::runtime_error("library failure");
    }

private:
    int kind_;
};

std::mutex reportedLock;
std::string reported;
void recordFailure(std::string_view line)
{
    std::lock_guard guard(reportedLock);
    reported += std::string(line) + "\n";
}

} // namespace

TEST(Thread, PlainThreadEndsAtOnceWithExitCodeOne)
{
    Thread thread;
    EXPECT_EQ(thread.getHandle().exitCode(), ThreadHandle::StillActive);
    EXPECT_EQ(thread.start(), 1u);
    EXPECT_EQ(thread.wait(ThreadHandle::Infinite), ThreadHandle::WaitObject0);
    EXPECT_EQ(thread.getHandle().exitCode(), 1u);
    // Waiting again on a finished thread returns at once.
    EXPECT_EQ(thread.wait(ThreadHandle::Infinite), ThreadHandle::WaitObject0);
    EXPECT_EQ(thread.start(), 0u) << "a second start launches nothing";
}

TEST(Thread, WaitTimesOutWhileRunning)
{
    Gate gate;
    ASSERT_EQ(gate.start(), 1u);
    EXPECT_EQ(gate.wait(20), ThreadHandle::WaitTimeout);
    gate.release.set_value();
    EXPECT_EQ(gate.wait(ThreadHandle::Infinite), ThreadHandle::WaitObject0);
}

TEST(Thread, UnstartedThreadCannotBeWaitedFor)
{
    Thread thread;
    EXPECT_EQ(thread.wait(10), ThreadHandle::WaitFailed);
    EXPECT_EQ(ThreadHandle().wait(10), ThreadHandle::WaitFailed);
    EXPECT_FALSE(ThreadHandle().isValid());
}

TEST(Thread, HandleOutlivesASelfDeletingThread)
{
    for (int round = 0; round < 50; ++round) {
        std::atomic<bool> destroyed{false};
        auto* thread = new SelfDeleting(destroyed);
        const ThreadHandle handle = thread->getHandle();
        thread->start();
        thread = nullptr;  // the object is the thread's from here on
        ASSERT_EQ(handle.wait(ThreadHandle::Infinite), ThreadHandle::WaitObject0);
        EXPECT_TRUE(destroyed);
        EXPECT_EQ(handle.exitCode(), 1u);
    }
}

TEST(Thread, WhatEscapesRunIsReportedAndEndsOnlyTheThread)
{
    MAIL::setFailureReporter(&recordFailure);
    for (int kind = 0; kind < 3; ++kind) {
        Throwing thread(kind);
        thread.start();
        ASSERT_EQ(thread.wait(ThreadHandle::Infinite), ThreadHandle::WaitObject0);
        EXPECT_EQ(thread.getHandle().exitCode(), 1u);
    }
    MAIL::setFailureReporter(nullptr);
    std::lock_guard guard(reportedLock);
    EXPECT_NE(reported.find("boom"), std::string::npos) << reported;
    EXPECT_NE(reported.find("-1501"), std::string::npos) << reported;
    EXPECT_NE(reported.find("library failure"), std::string::npos) << reported;
}
