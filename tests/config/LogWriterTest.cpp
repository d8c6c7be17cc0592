#include "config/LogWriter.h"

#include "support/CaptureStdout.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using MAIL::LogWriter;
using pelorus::test::fileMode;
using pelorus::test::linesOf;
using pelorus::test::pathExists;
using pelorus::test::readFile;
using pelorus::test::TempDir;
using pelorus::test::writeFile;

namespace {

const std::regex LineForm(R"((Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123]\d \d\d:\d\d:\d\d \d{4}  (TRACE|DEBUG|ERROR): .*)");

} // namespace

TEST(LogWriter, LevelsDecideWhichLinesAreWritten)
{
    struct Case {
        int level;
        std::vector<std::string> words;
    };
    for (const Case& c : {Case{0, {}}, Case{1, {"ERROR"}}, Case{2, {"DEBUG", "ERROR"}},
                          Case{3, {"TRACE", "DEBUG", "ERROR"}}}) {
        TempDir dir;
        LogWriter writer(dir.path().c_str(), "Pelorus.log", c.level, 5, 500, false, 32000);
        MAIL::trace(&writer, "Test#levels,1,%s", "trace");
        MAIL::debug(&writer, "Test#levels,2,%d", 2);
        MAIL::error(&writer, "Test#levels,3,%s", "error");
        const std::string path = dir / "Pelorus.log";
        if (c.words.empty()) {
            EXPECT_FALSE(pathExists(path)) << "level 0 creates no file";
            continue;
        }
        const auto lines = linesOf(readFile(path));
        ASSERT_EQ(lines.size(), c.words.size()) << "level " << c.level;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_TRUE(std::regex_match(lines[i], LineForm)) << lines[i];
            EXPECT_NE(lines[i].find("  " + c.words[i] + ": Test#levels,"), std::string::npos) << lines[i];
        }
        EXPECT_EQ(fileMode(path), 0600);
    }
    MAIL::error(nullptr, "ignored %d", 1);
}

TEST(LogWriter, TimeStampHasTheAsctimeForm)
{
    pelorus::test::ScopedEnv tz("TZ", "UTC");
    ::tzset();
    EXPECT_EQ(MAIL::logTimeStamp(1796521606), "Sun Dec  6 01:46:46 2026 ");
    ::tzset();
}

TEST(LogWriter, DirectoryIsUsedAsGivenAndCreated)
{
    TempDir dir;
    LogWriter writer((dir / "logs/deep/").c_str(), "a.log", 1, 5, 500, false, 100);
    EXPECT_EQ(writer.getPath(), dir / "logs/deep//a.log");
    EXPECT_EQ(writer.getDirectory(), dir / "logs/deep");
    EXPECT_EQ(fileMode(dir / "logs/deep"), 0700);
    MAIL::error(&writer, "%s", std::string(500, 'x').c_str());
    const auto lines = linesOf(readFile(dir / "logs/deep/a.log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(": " + std::string(99, 'x'))) << "messages are cut to the buffer";
}

TEST(LogWriter, UncreatableDirectoryFailsWithMinus35)
{
    TempDir dir;
    writeFile(dir / "file", "x");
    try {
        LogWriter writer((dir / "file/sub").c_str(), "a.log", 1, 5, 500, false, 100);
        FAIL() << "no exception";
    } catch (int code) {
        EXPECT_EQ(code, -35);
    }
}

TEST(LogWriter, RotatesOnlyPastTheLimit)
{
    TempDir dir;
    const std::string path = dir / "Pelorus.log";
    LogWriter writer(dir.path().c_str(), "Pelorus.log", 1, 5, 500, false, 1000);
    writeFile(path, std::string(500 * 1024 + 1023, 'a'));
    MAIL::error(&writer, "still 500 KiB");
    EXPECT_FALSE(pathExists(path + ".1"));
    writeFile(path, std::string(501 * 1024, 'a'));
    MAIL::error(&writer, "501 KiB");
    EXPECT_EQ(readFile(path + ".1"), std::string(501 * 1024, 'a'));
    EXPECT_EQ(linesOf(readFile(path)).size(), 1u);
}

TEST(LogWriter, RotationShiftsTheOldFiles)
{
    struct Case {
        int number;
        std::vector<int> present;   // P.i before the rotation
        std::vector<std::pair<int, std::string>> after;  // P.i and its content
    };
    // Content of P.i is "i", of P is "P" (padded past the limit).
    for (const Case& c : {
             Case{5, {1, 2, 3, 4, 5}, {{1, "P"}, {2, "1"}, {3, "2"}, {4, "3"}, {5, "4"}}},
             Case{5, {2, 4}, {{1, "P"}, {3, "2"}, {5, "4"}}},
             Case{1, {1}, {{1, "P"}}},
             Case{0, {}, {{1, "P"}}},
             Case{1000000, {1}, {{1, "P"}, {2, "1"}}},
         }) {
        TempDir dir;
        const std::string p = dir / "x.log";
        for (int i : c.present)
            writeFile(p + "." + std::to_string(i), std::to_string(i));
        writeFile(p, "P" + std::string(2048, ' '));
        LogWriter writer(dir.path().c_str(), "x.log", 1, c.number, 1, false, 100);
        MAIL::error(&writer, "after");
        for (const auto& [i, content] : c.after)
            EXPECT_EQ(readFile(p + "." + std::to_string(i)).substr(0, 1), content)
                << "number " << c.number << " file " << i;
        std::set<std::string> expected{"x.log"};
        for (const auto& entry : c.after)
            expected.insert("x.log." + std::to_string(entry.first));
        const auto names = pelorus::test::listFolder(dir.path());
        EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected) << "number " << c.number;
    }
}

TEST(LogWriter, RotationNumberZeroKeepsGrowingOnceP1Exists)
{
    TempDir dir;
    const std::string p = dir / "x.log";
    writeFile(p + ".1", "old");
    writeFile(p, std::string(2048, 'a'));
    LogWriter writer(dir.path().c_str(), "x.log", 1, 0, 1, false, 100);
    MAIL::error(&writer, "grows");
    EXPECT_EQ(readFile(p + ".1"), "old") << "a rename never replaces a file";
    EXPECT_GT(readFile(p).size(), 2048u);
}

TEST(LogWriter, ALinkInPlaceOfTheFileIsNotFollowed)
{
    TempDir dir;
    writeFile(dir / "target", "untouched");
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "x.log").c_str()), 0);
    LogWriter writer(dir.path().c_str(), "x.log", 1, 5, 500, false, 100);
    MAIL::error(&writer, "must not land in the target");
    EXPECT_EQ(readFile(dir / "target"), "untouched");
}

TEST(LogWriter, ConcurrentWritersProduceWholeLines)
{
    TempDir dir;
    LogWriter writer(dir.path().c_str(), "x.log", 3, 5, 100000, false, 32000);
    constexpr int Threads = 4, Lines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&writer, t] {
            const std::string payload(200 + t, static_cast<char>('a' + t));
            for (int i = 0; i < Lines; ++i)
                MAIL::debug(&writer, "Test#concurrent,%d,%s", t, payload.c_str());
        });
    for (auto& thread : threads)
        thread.join();
    const auto lines = linesOf(readFile(dir / "x.log"));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(Threads * Lines));
    const std::regex whole(R"(.* {2}DEBUG: Test#concurrent,([0-3]),([a-d]+))");
    for (const auto& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
        const int t = std::stoi(m[1]);
        EXPECT_EQ(m[2].str(), std::string(200 + t, static_cast<char>('a' + t)));
    }
}

TEST(LogWriter, ConsoleEchoesTheSameLine)
{
    TempDir dir;
    LogWriter writer(dir.path().c_str(), "x.log", 1, 5, 500, true, 100);
    testing::internal::CaptureStdout();
    MAIL::error(&writer, "Test#echo,1,%s", "seen twice");
    const std::string echoed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(echoed, readFile(dir / "x.log"));
    EXPECT_NE(echoed.find("ERROR: Test#echo,1,seen twice"), std::string::npos);
}

TEST(LogWriter, DirSettingsRelativeToHome)
{
    pelorus::test::ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(MAIL::resolveLogDirectory("~/logs"), "/home/u/logs");
    EXPECT_EQ(MAIL::resolveLogDirectory("logs"), "/home/u/logs");
    EXPECT_EQ(MAIL::resolveLogDirectory("/var/tmp/x"), "/var/tmp/x");
    pelorus::test::ScopedEnv state("XDG_STATE_HOME", "/state");
    EXPECT_EQ(MAIL::defaultLogDirectory(), "/state/Pelorus/");
}

TEST(LogWriter, SharedWriterIsOneObjectFromAnyThread)
{
    std::vector<MAIL::LogWriter*> seen(4, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] { seen[i] = MAIL::getLogWriter(); });
    for (auto& t : threads)
        t.join();
    ASSERT_NE(seen[0], nullptr);
    for (auto* writer : seen)
        EXPECT_EQ(writer, seen[0]);
}
