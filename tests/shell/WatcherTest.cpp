#include "shell/IPAddressChangeNotifier.h"
#include "shell/NetworkInterfaces.h"

#include "support/CaptureStdout.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using MAIL::InterfaceRecord;
using MAIL::IPAddressChangeNotifier;
using MAIL::NetworkInterfaces;
using MAIL::ThreadHandle;

namespace {

// A guard against hanging, never a measure: every wait normally ends at once.
constexpr auto Patience = std::chrono::seconds(20);
constexpr std::uint32_t PatienceMs = 20000;

constexpr unsigned Up = IFF_UP | IFF_RUNNING;

InterfaceRecord record(const char* name, const char* address, unsigned flags)
{
    InterfaceRecord r;
    r.name = name;
    r.flags = flags;
    ::inet_pton(AF_INET, address, &r.address);
    return r;
}

using Records = std::vector<InterfaceRecord>;

const InterfaceRecord loopback = record("lo", "127.0.0.1", Up | IFF_LOOPBACK);
const InterfaceRecord homeLan = record("wlan0", "192.168.1.10", Up);
const InterfaceRecord officeLan = record("eth1", "10.0.0.5", Up);

NetworkInterfaces::Query giving(Records records)
{
    return [records] { return std::optional<Records>(records); };
}

struct DecisionCase {
    const char* name;
    Records records;
    std::vector<std::string> addresses;  // getAddress(0..), in order
    bool connected;
};
void PrintTo(const DecisionCase& c, std::ostream* out) { *out << c.name; }

class WatcherDecision : public testing::TestWithParam<DecisionCase> {};

} // namespace

TEST_P(WatcherDecision, CountsUsableInterfacesAndJudgesTheirAddresses)
{
    const DecisionCase& c = GetParam();
    NetworkInterfaces interfaces(giving(c.records));
    EXPECT_EQ(interfaces.refresh(), static_cast<int>(c.addresses.size()));
    EXPECT_EQ(interfaces.getUpCount(), static_cast<int>(c.addresses.size()));
    EXPECT_EQ(interfaces.getCount(), static_cast<int>(c.records.size()));
    EXPECT_EQ(interfaces.isConnected(), c.connected);

    MAIL::String address("stale");
    for (std::size_t i = 0; i < c.addresses.size(); ++i) {
        EXPECT_TRUE(interfaces.getAddress(static_cast<int>(i), address)) << i;
        EXPECT_EQ(address.view(), c.addresses[i]) << i;
    }
    for (int outside : {-1, static_cast<int>(c.addresses.size())}) {
        address = MAIL::String("stale");
        EXPECT_FALSE(interfaces.getAddress(outside, address)) << outside;
        EXPECT_TRUE(address.hasText());
        EXPECT_EQ(address.view(), "") << "the output is emptied even when nothing is found";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, WatcherDecision,
    testing::Values(
        DecisionCase{"NothingAtAll", {}, {}, false},
        DecisionCase{"LoopbackOnly", {loopback}, {}, false},
        DecisionCase{"OnlyA192Address", {loopback, homeLan}, {"192.168.1.10"}, false},
        DecisionCase{"A192AddressAndATenAddress", {loopback, homeLan, officeLan}, {"192.168.1.10", "10.0.0.5"}, true},
        DecisionCase{"AnyAddressBeginningWith192IsLocal", {record("eth0", "192.0.2.1", Up)}, {"192.0.2.1"}, false},
        DecisionCase{"PrefixIsTextualSo19Dot2IsPublic", {record("eth0", "19.2.0.1", Up)}, {"19.2.0.1"}, true},
        DecisionCase{"DownPublicInterfaceIgnored", {homeLan, record("eth0", "203.0.113.7", 0)}, {"192.168.1.10"},
                     false},
        DecisionCase{"UpButNotRunningIgnored", {homeLan, record("eth0", "203.0.113.7", IFF_UP)}, {"192.168.1.10"},
                     false},
        DecisionCase{"RunningButAdministrativelyDownIgnored", {record("eth0", "203.0.113.7", IFF_RUNNING)}, {}, false},
        DecisionCase{"LoopbackFlagWinsOverAPublicAddress", {record("lo", "8.8.8.8", Up | IFF_LOOPBACK)}, {}, false},
        DecisionCase{"AddressesCountOnlyUsableRecords",
                     {record("eth0", "203.0.113.1", 0), loopback, officeLan, homeLan, record("eth2", "1.2.3.4", Up)},
                     {"10.0.0.5", "192.168.1.10", "1.2.3.4"},
                     true}),
    [](const testing::TestParamInfo<DecisionCase>& info) { return std::string(info.param.name); });

TEST(WatcherInterfaces, FailedQueryRaisesMinusOneAndLeavesNothingOfTheOldList)
{
    bool fail = false;
    NetworkInterfaces interfaces([&] { return fail ? std::nullopt : std::optional<Records>(Records{officeLan}); });
    ASSERT_TRUE(interfaces.refreshConnected());
    fail = true;
    int raised = 0;
    try {
        interfaces.refresh();
    } catch (int code) {
        raised = code;
    }
    EXPECT_EQ(raised, -1);
    EXPECT_EQ(interfaces.getCount(), 0);
    EXPECT_FALSE(interfaces.isConnected());
    EXPECT_FALSE(interfaces.refreshConnected());
}

namespace {

// What the watcher has queried and posted so far, shared with its thread.
class Scenario {
public:
    // The list the next query gives; nothing makes the query fail.
    void set(std::optional<Records> records)
    {
        std::lock_guard guard(lock_);
        records_ = std::move(records);
    }

    NetworkInterfaces::Query query()
    {
        return [this] {
            std::lock_guard guard(lock_);
            ++queries_;
            changed_.notify_all();
            return records_;
        };
    }

    IPAddressChangeNotifier::Post post()
    {
        return [this](int state) {
            std::lock_guard guard(lock_);
            notices_.push_back(state);
            changed_.notify_all();
        };
    }

    // Wait until that many have happened; false when they never come.
    bool awaitNotices(std::size_t count) { return await([&] { return notices_.size() >= count; }); }
    bool awaitQueries(int count) { return await([&] { return queries_ >= count; }); }

    std::vector<int> notices()
    {
        std::lock_guard guard(lock_);
        return notices_;
    }

private:
    template <typename Done>
    bool await(Done done)
    {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, Patience, done);
    }

    std::mutex lock_;
    std::condition_variable changed_;
    std::optional<Records> records_ = Records{loopback};
    std::vector<int> notices_;
    int queries_ = 0;
};

// A notifier whose change events come from the test instead of the kernel.
class ScriptedNotifier : public IPAddressChangeNotifier {
public:
    explicit ScriptedNotifier(Scenario& scenario, int openError = 0)
        : IPAddressChangeNotifier(scenario.post(), scenario.query()), openError_(openError)
    {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) == 0) {
            watched_ = pair[0];
            signal_ = pair[1];
        }
    }
    ~ScriptedNotifier() override
    {
        stop();
        wait(ThreadHandle::Infinite);
        if (signal_ >= 0)
            ::close(signal_);
        if (watched_ >= 0)
            ::close(watched_);  // never handed to the watcher
    }

    // One change event, as the kernel sends after an address change.
    void signalChange() { ASSERT_EQ(::send(signal_, "x", 1, 0), 1); }

protected:
    int openChangeSource() override
    {
        const int watched = std::exchange(watched_, -1);  // the watcher closes it
        if (openError_ != 0) {
            ::close(watched);
            errno = openError_;
            return -1;
        }
        return watched;
    }

private:
    int openError_;
    int watched_ = -1;
    int signal_ = -1;
};

const Records notConnected{loopback, homeLan};
const Records connected{loopback, homeLan, officeLan};

} // namespace

TEST(WatcherNotices, NotifyNowAlwaysPostsNotifyIfChangedOnlyOnAChange)
{
    Scenario scenario;
    IPAddressChangeNotifier notifier(scenario.post(), scenario.query());
    scenario.set(notConnected);
    notifier.notifyNow();
    notifier.notifyNow();
    notifier.notifyIfChanged();
    scenario.set(connected);
    notifier.notifyIfChanged();
    notifier.notifyIfChanged();
    scenario.set(notConnected);
    notifier.notifyIfChanged();
    EXPECT_EQ(scenario.notices(), (std::vector<int>{0, 0, 1, 0}));
    EXPECT_EQ(notifier.getLastState(), 0);
}

TEST(WatcherNotices, RunningWatcherPostsTheFirstStateThenOnlyChanges)
{
    Scenario scenario;
    scenario.set(notConnected);
    ScriptedNotifier notifier(scenario);
    ASSERT_EQ(notifier.start(), 1u);
    ASSERT_TRUE(scenario.awaitNotices(1)) << "the first notice goes out even when not connected";

    // A change that leaves the machine off line is looked at, and says nothing.
    scenario.set(Records{loopback, homeLan, record("eth0", "203.0.113.7", IFF_UP)});
    notifier.signalChange();
    ASSERT_TRUE(scenario.awaitQueries(2));

    // Two changes in a row, each answered; a failed query means off line
    // and does not end the watcher.
    scenario.set(connected);
    notifier.signalChange();
    ASSERT_TRUE(scenario.awaitNotices(2));
    scenario.set(std::nullopt);
    notifier.signalChange();
    ASSERT_TRUE(scenario.awaitNotices(3));
    scenario.set(connected);
    notifier.signalChange();
    ASSERT_TRUE(scenario.awaitNotices(4));

    notifier.stop();
    ASSERT_EQ(notifier.wait(PatienceMs), ThreadHandle::WaitObject0);
    EXPECT_EQ(scenario.notices(), (std::vector<int>{0, 1, 0, 1}));
}

TEST(WatcherStop, EndsTheThreadWhetherItWaitsOrHasNotStartedYet)
{
    for (const bool beforeStart : {false, true}) {
        Scenario scenario;
        pelorus::test::DiagnosticsCapture console;
        IPAddressChangeNotifier notifier(scenario.post(), scenario.query());
        if (beforeStart)
            notifier.stop();
        ASSERT_EQ(notifier.start(), 1u);
        ASSERT_TRUE(scenario.awaitNotices(1));
        notifier.stop();
        ASSERT_EQ(notifier.wait(PatienceMs), ThreadHandle::WaitObject0) << beforeStart;
        EXPECT_EQ(scenario.notices(), std::vector<int>{0});
        EXPECT_NE(console.take().find("\nTerminateEvent has been set, so break this thread loop\n"),
                  std::string::npos);
    }
}

TEST(WatcherStop, ChangeSourceThatCannotBeOpenedEndsTheWatcherAfterItsFirstNotice)
{
    Scenario scenario;
    scenario.set(connected);
    testing::internal::CaptureStderr();
    {
        ScriptedNotifier notifier(scenario, EACCES);
        notifier.start();
        // Ends by itself: nobody calls stop() before this wait.
        ASSERT_EQ(notifier.wait(PatienceMs), ThreadHandle::WaitObject0);
    }
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(scenario.notices(), std::vector<int>{1});
    EXPECT_NE(errors.find(std::strerror(EACCES)), std::string::npos) << errors;
}

namespace {

// Runs an ip command quietly: true when it succeeded.
bool ip(const std::string& arguments)
{
    return std::system(("ip " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

// Makes an interface "pel0" that comes up running: a dummy interface, or
// one end of a veth pair where the kernel has no dummy driver.
bool makeInterface()
{
    if (ip("link add pel0 type dummy"))
        return ip("link set pel0 up");
    return ip("link add pel0 type veth peer name pel1") && ip("link set pel1 up") && ip("link set pel0 up");
}

} // namespace

TEST(WatcherInNetworkNamespace, ReportsAnAddressComingAndGoing)
{
    if (!ip("-V"))
        GTEST_SKIP() << "the ip command is not installed";

    // Everything runs on a thread of its own that moves into a new network
    // namespace; the watcher thread and the ip commands it starts inherit
    // it, the rest of the suite stays where it was, and the namespace with
    // its interfaces goes away when the last of them ends.
    std::string skipped;
    std::vector<int> notices;
    std::thread inside([&] {
        if (::unshare(CLONE_NEWNET) != 0) {
            skipped = std::string("a network namespace cannot be made here: ") + std::strerror(errno);
            return;
        }
        Scenario scenario;
        IPAddressChangeNotifier notifier(scenario.post());
        notifier.start();
        ASSERT_TRUE(scenario.awaitNotices(1));
        EXPECT_EQ(scenario.notices(), std::vector<int>{0}) << "a new namespace has only its loopback, and it is down";

        if (!makeInterface()) {
            skipped = "neither a dummy nor a veth interface can be made here";
            return;
        }
        ASSERT_TRUE(ip("addr add 10.77.0.1/24 dev pel0"));
        EXPECT_TRUE(scenario.awaitNotices(2)) << "no notice after an address was added";

        ASSERT_TRUE(ip("addr del 10.77.0.1/24 dev pel0"));
        EXPECT_TRUE(scenario.awaitNotices(3)) << "no notice after the address was removed";

        notifier.stop();
        EXPECT_EQ(notifier.wait(PatienceMs), ThreadHandle::WaitObject0);
        ip("link del pel0");
        notices = scenario.notices();
    });
    inside.join();
    if (!skipped.empty())
        GTEST_SKIP() << skipped;
    EXPECT_EQ(notices, (std::vector<int>{0, 1, 0}));
}
