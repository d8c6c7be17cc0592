#include "policy/SentRecipients.h"

#include "support/TempDir.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using MAIL::SentRecipients;
using namespace pelorus::test;
using namespace std::chrono;

namespace {

// A clock standing still at a UTC time given as text.
SentRecipients::Clock at(const char* utc)
{
    std::tm parts{};
    std::sscanf(utc, "%d-%d-%dT%d:%d:%d", &parts.tm_year, &parts.tm_mon, &parts.tm_mday, &parts.tm_hour,
                &parts.tm_min, &parts.tm_sec);
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    const auto when = system_clock::from_time_t(::timegm(&parts));
    return [when] { return when; };
}

class History : public testing::Test {
protected:
    SentRecipients history(const char* now = "2026-12-20T12:00:00") { return SentRecipients(folder, at(now)); }

    TempDir dir;
    std::string folder = dir / "Pelorus";
    std::string file = folder + "/SentRecipients";
};

} // namespace

TEST_F(History, LearnsForSevenUtcDaysAfterItsSinceDate)
{
    // Far east of UTC, where the local date is a day ahead: only UTC counts.
    ScopedEnv zone("TZ", "Pacific/Kiritimati");
    ASSERT_TRUE(history("2026-12-01T23:59:59").remember({"Known@Example.com"}));
    EXPECT_EQ(readFile(file), "# since 2026-12-01\nknown@example.com\t2026-12-01\n");
    struct Case {
        const char* now;
        bool flagged;
    };
    for (const Case c : {Case{"2026-12-07T23:59:59", false}, Case{"2026-12-08T00:00:00", true},
                         Case{"2026-11-30T12:00:00", true}}) {  // a clock behind the since date
        SentRecipients seen = history(c.now);
        ASSERT_EQ(seen.load(), SentRecipients::State::Read);
        EXPECT_EQ(seen.isNew("stranger@example.com"), c.flagged) << c.now;
        EXPECT_FALSE(seen.isNew("KNOWN@example.com")) << c.now;
    }
}

TEST_F(History, MissingUntilTheFirstUpdateThenOldestFirstInLowerCase)
{
    SentRecipients first = history();
    EXPECT_EQ(first.load(), SentRecipients::State::Missing);
    EXPECT_FALSE(first.isNew("anyone@example.com"));
    ASSERT_TRUE(history("2026-12-20T08:00:00").remember({"a@x.example", "b@x.example", "bad\taddress", ""}));
    ASSERT_TRUE(history("2026-12-21T08:00:00").remember({"c@x.example", "A@X.example", "c@x.example"}));
    EXPECT_EQ(readFile(file), "# since 2026-12-20\nb@x.example\t2026-12-20\nc@x.example\t2026-12-21\n"
                              "a@x.example\t2026-12-21\n");
    ASSERT_TRUE(history("2026-12-22T08:00:00").forget());
    EXPECT_EQ(readFile(file), "# since 2026-12-22\n");
}

TEST_F(History, KeepsTwentyThousandAddressesDroppingTheOldest)
{
    std::string text = "# since 2020-01-01\n";
    for (std::size_t i = 0; i < SentRecipients::MaximumAddresses; ++i)
        text += "user" + std::to_string(i) + "@example.com\t" + (i == 0 ? "2020-01-01" : "2021-06-01") + "\n";
    ::mkdir(folder.c_str(), 0700);
    writeFile(file, text);
    ASSERT_TRUE(history().remember({"newcomer@example.com"}));
    SentRecipients kept = history();
    ASSERT_EQ(kept.load(), SentRecipients::State::Read);
    EXPECT_TRUE(kept.isNew("user0@example.com"));
    EXPECT_FALSE(kept.isNew("user1@example.com"));
    EXPECT_FALSE(kept.isNew("newcomer@example.com"));
    EXPECT_EQ(linesOf(readFile(file)).size(), SentRecipients::MaximumAddresses + 1);
}

TEST_F(History, AnUnreadableHistoryFlagsEveryoneAndIsNeverRewritten)
{
    const std::string longLine = "# since 2020-01-01\n" + std::string(1024, 'a') + "\t2020-01-01\n";
    for (const std::string& damaged :
         std::vector<std::string>{"", "since 2020-01-01\n", "# since 2020-02-30\n", "# since 2020-01-01\nno-tab@example.com\n",
          "# since 2020-01-01\nx@example.com\t2020-01-01", "# since 2020-01-01\n\n", longLine}) {
        ::mkdir(folder.c_str(), 0700);
        writeFile(file, damaged);
        SentRecipients seen = history();
        EXPECT_EQ(seen.load(), SentRecipients::State::Unreadable) << damaged;
        EXPECT_TRUE(seen.isNew("x@example.com")) << damaged;
        EXPECT_FALSE(history().remember({"x@example.com"})) << damaged;
        EXPECT_EQ(readFile(file), damaged);
    }
    // A link is not followed, and a fresh start is always possible.
    writeFile(dir / "elsewhere", "# since 2020-01-01\n");
    ::unlink(file.c_str());
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), file.c_str()), 0);
    EXPECT_EQ(history().load(), SentRecipients::State::Unreadable);
    ASSERT_TRUE(history().forget());
    EXPECT_EQ(history().load(), SentRecipients::State::Read);
    EXPECT_EQ(readFile(dir / "elsewhere"), "# since 2020-01-01\n");
}

TEST_F(History, ConcurrentUpdatesAllLand)
{
    constexpr int Rounds = 15;
    const auto sender = [this](const std::string& who) {
        for (int i = 0; i < Rounds; ++i)
            if (!history().remember({who + std::to_string(i) + "@example.com"}))
                return 1;
        return 0;
    };
    std::fflush(nullptr);
    const pid_t child = ::fork();  // another process: the flock
    if (child == 0)
        ::_exit(sender("process"));
    std::thread other([&] { EXPECT_EQ(sender("thread"), 0); });  // this process: the in-process lock
    EXPECT_EQ(sender("main"), 0);
    other.join();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(linesOf(readFile(file)).size(), 1u + 3 * Rounds);
}

TEST_F(History, AsAnOrdinaryUserItIsPrivateAndAFailedUpdateKeepsTheOldFile)
{
    ::mkdir(folder.c_str(), 0755);
    const int result = runAsUser(
        [&] {
            if (!history().remember({"kept@example.com"}) || fileMode(file) != 0600 || fileMode(folder) != 0700)
                return 1;
            // A disk as full as can be: no write gets through.
            const rlimit full{0, 0};
            if (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &full) != 0)
                return 2;
            return history().remember({"lost@example.com"}) ? 3 : 0;
        },
        {dir.path()});
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readFile(file), "# since 2026-12-20\nkept@example.com\t2026-12-20\n");
}
