// The record of decisions as a file: its lines are JSON whatever a mail
// holds, private, never interleaved, rotated; a hostile line read back is
// skipped. Reading back is tested through pelorus --decisions.
#include "RelayTestSupport.h"

#include "config/ProxyConfiguration.h"
#include "relay/DecisionRecord.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <thread>

#include <unistd.h>

using namespace MAIL;
using namespace pelorus::test;
using Json = nlohmann::json;

namespace {

std::vector<std::string> fileLines(const std::string& path)
{
    return linesOf(pathExists(path) ? readFile(path) : "");
}

DecisionRecord sample(std::string subject)
{
    DecisionRecord record;
    record.subject = std::move(subject);
    record.from = "alice@corp.example";
    record.recipients.push_back({"bob@corp.example", "to", true, true});
    record.decision = MailOutcome::Sent;
    return record;
}

// The record's folder and the settings under one temporary home.
class DecisionRecordHome : public testing::Test {
protected:
    TempDir home;
    ScopedEnv state{"XDG_STATE_HOME", home.path()};
    ScopedEnv config{"XDG_CONFIG_HOME", home / "config"};
};

} // namespace

TEST(DecisionRecord, HostileSubjectsStayOneValidJsonLineStampedInUtc)
{
    struct Case {
        const char* name;
        std::string subject;
        std::string readBack;
    };
    for (const Case& c : {Case{"controls", "a\r\nb\x1b[2J\t\x01", "a\r\nb\x1b[2J\t\x01"},
                          Case{"quotes and backslashes", "\"}, \"decision\": \"sent\\", "\"}, \"decision\": \"sent\\"},
                          Case{"invalid UTF-8", "caf\xe9 \xff\xfe end", "caf\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd end"},
                          Case{"line separator", "x\xe2\x80\xa8y", "x\xe2\x80\xa8y"}}) {
        DecisionRecord record = sample(c.subject);
        record.messageId = c.subject;
        const std::string line = decisionLine(record, std::chrono::system_clock::now());
        ASSERT_EQ(line.find('\n'), line.size() - 1) << c.name;
        const Json parsed = Json::parse(line);
        EXPECT_EQ(parsed["subject"], c.readBack) << c.name;
        EXPECT_EQ(parsed["message_id"], c.readBack) << c.name;
        EXPECT_EQ(parsed["decision"], "sent") << c.name;
    }
    const auto when = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796661605123));
    const Json parsed = Json::parse(decisionLine(sample("s"), when));
    EXPECT_EQ(parsed["time"], "2026-12-07T16:40:05.123Z");
    EXPECT_TRUE(parsed["server_reply"].is_null());
}

TEST(DecisionRecord, FileIsPrivateAndNeverWrittenThroughALink)
{
    TempDir home;
    const std::string folder = home / "state/Pelorus";
    ASSERT_TRUE(appendDecisionLine(folder, "{}\n"));
    EXPECT_EQ(fileMode(folder), 0700);
    EXPECT_EQ(fileMode(folder + "/decisions.jsonl"), 0600);

    std::filesystem::remove(folder + "/decisions.jsonl");
    writeFile(home / "elsewhere", "kept\n");
    std::filesystem::create_symlink(home / "elsewhere", folder + "/decisions.jsonl");
    EXPECT_FALSE(appendDecisionLine(folder, "{}\n"));
    EXPECT_EQ(readFile(home / "elsewhere"), "kept\n");
}

TEST(DecisionRecord, AnOrdinaryUserWritesPrivatelyAndRefusesAFolderPlantedByAnother)
{
    TempDir own;
    TempDir planted;
    std::filesystem::create_directories(planted / "Pelorus");
    std::filesystem::permissions(planted.path(), std::filesystem::perms::all);
    std::filesystem::permissions(planted / "Pelorus", std::filesystem::perms::all);
    const int result = runAsUser(
        [&] {
            if (!appendDecisionLine(own / "Pelorus", "{}\n"))
                return 1;
            if (fileMode(own / "Pelorus") != 0700 || fileMode(own / "Pelorus/decisions.jsonl") != 0600)
                return 2;
            // As root the planted folder is root's: another user's to nobody.
            if (runningAsRoot() && appendDecisionLine(planted / "Pelorus", "{}\n"))
                return 3;
            return 0;
        },
        {own.path()});
    EXPECT_EQ(result, 0);
}

TEST(DecisionRecord, ConcurrentWritersNeverInterleaveLines)
{
    TempDir home;
    const std::string folder = home / "Pelorus";
    constexpr int Writers = 8;
    constexpr int Lines = 40;
    std::vector<std::thread> writers;
    for (int w = 0; w < Writers; ++w)
        writers.emplace_back([&, w] {
            for (int i = 0; i < Lines; ++i)  // lines far larger than a pipe's atomic size
                appendDecisionLine(folder, decisionLine(sample(std::string(20000 + i * 97, 'a' + w)),
                                                        std::chrono::system_clock::now()));
        });
    for (auto& writer : writers)
        writer.join();
    const auto lines = fileLines(folder + "/decisions.jsonl");
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(Writers * Lines));
    for (const std::string& line : lines) {
        const Json parsed = Json::parse(line, nullptr, false);
        ASSERT_TRUE(parsed.is_object());
        const std::string subject = parsed["subject"];
        EXPECT_EQ(subject.find_first_not_of(subject[0]), std::string::npos);
    }
}

TEST(DecisionRecord, RotationKeepsTwoOlderFilesEachWithinTheLimit)
{
    TempDir home;
    const std::string folder = home / "Pelorus";
    const std::string big(1 << 20, 'x');
    constexpr int Written = 35;
    for (int i = 1; i <= Written; ++i)
        ASSERT_TRUE(appendDecisionLine(folder, std::to_string(i) + " " + big + "\n"));
    std::vector<int> numbers;
    for (const char* name : {SecondRotatedName, FirstRotatedName, DecisionFileName}) {
        EXPECT_LE(std::filesystem::file_size(folder + "/" + name), RotateBytes) << name;
        EXPECT_EQ(fileMode(folder + "/" + name), 0600) << name;
        for (const std::string& line : fileLines(folder + "/" + name))
            numbers.push_back(std::stoi(line));
    }
    EXPECT_EQ(listFolder(folder).size(), 3u) << "nothing older than decisions.2.jsonl";
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(numbers.back(), Written);
    for (std::size_t i = 1; i < numbers.size(); ++i)
        EXPECT_EQ(numbers[i], numbers[i - 1] + 1) << "the newest lines, in order, none lost between files";
    EXPECT_LT(numbers.size(), static_cast<std::size_t>(Written)) << "the oldest were dropped";
}

TEST_F(DecisionRecordHome, AFailedWriteIsLoggedAndShownOncePerRun)
{
    writeFile(home / "Pelorus", "a file where the folder should be\n");
    NoticeRecorder notices;
    recordDecision(sample("one"));
    recordDecision(sample("two"));
    int warnings = 0;
    for (const Balloon& balloon : notices.balloons())
        warnings += balloon.kind == NoticeKind::Warning ? 1 : 0;
    EXPECT_EQ(warnings, 1);
}

TEST_F(DecisionRecordHome, DecisionLogZeroWritesNothing)
{
    ASSERT_TRUE(ProxyConfiguration().setDecisionLog(false));
    recordDecision(sample("private"));
    EXPECT_FALSE(pathExists(home / "Pelorus/decisions.jsonl"));
    ASSERT_TRUE(ProxyConfiguration().setDecisionLog(true));
    recordDecision(sample("kept"));
    EXPECT_EQ(fileLines(home / "Pelorus/decisions.jsonl").size(), 1u);
}

TEST(DecisionRecord, DeeplyNestedLinesAreBrokenNotACrash)
{
    TempDir home;
    std::filesystem::create_directories(home / "Pelorus");
    writeFile(home / "Pelorus/decisions.jsonl", std::string(1 << 20, '[') + "\n" + std::string(1 << 20, '{') + "\n");
    EXPECT_EQ(readRecentDecisions(home / "Pelorus", 5).broken, 2u);
}
