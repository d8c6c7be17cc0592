// pelorus --decisions: the newest decisions of the record as a table that
// fits 80 columns, read across a rotation, skipping what is no record.
#include "ProgramProcess.h"

#include "relay/DecisionRecord.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace pelorus::test;

namespace {

std::string recordLine(const std::string& subject, const std::string& recipient)
{
    MAIL::DecisionRecord record;
    record.subject = subject;
    record.recipients.push_back({recipient, "to", false, true});
    record.decision = MAIL::MailOutcome::Cancelled;
    return MAIL::decisionLine(record, std::chrono::system_clock::now());
}

void writeRecord(const TempDir& home, const char* name, const std::string& lines)
{
    std::filesystem::create_directories(home / "state/Pelorus");
    writeFile(home / "state/Pelorus/" + name, lines);
}

} // namespace

TEST(DecisionsCommand, AFreshMachineHasNoDecisions)
{
    TempDir home;
    const QuickResult r = runPelorus({"--decisions"}, home);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "No decisions recorded yet.\n");
}

TEST(DecisionsCommand, ReadsTheRotatedFileTooAndFitsEightyColumns)
{
    TempDir home;
    writeRecord(home, MAIL::FirstRotatedName,
                recordLine("older", "a@corp.example") + recordLine(std::string(300, 'S'), "b@corp.example"));
    writeRecord(home, MAIL::DecisionFileName,
                recordLine("\x1b[2J \xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e subject", std::string(90, 'r') + "@x.example"));
    const QuickResult r = runPelorus({"--decisions", "2"}, home);
    EXPECT_EQ(r.status, 0);
    const auto lines = linesOf(r.output);
    ASSERT_EQ(lines.size(), 3u) << r.output;
    EXPECT_EQ(lines[0].rfind("Time", 0), 0u);
    EXPECT_NE(lines[1].find("cancelled     1  b@corp.example"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("SSS..."), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("rrr..."), std::string::npos) << lines[2];
    EXPECT_EQ(lines[2].find('\x1b'), std::string::npos) << "no escape sequence reaches the terminal";
    EXPECT_NE(lines[2].find("\\x1B[2J \xe6\x97\xa5"), std::string::npos) << lines[2];
    for (const std::string& line : lines) {
        std::size_t columns = 0;  // ideographs (lead bytes E3 to E9) take two
        for (const char c : line) {
            const auto byte = static_cast<unsigned char>(c);
            if ((byte & 0xC0) != 0x80)
                columns += byte >= 0xE3 && byte <= 0xE9 ? 2 : 1;
        }
        EXPECT_LE(columns, 80u) << line;
    }
}

TEST(DecisionsCommand, ABrokenLineIsSkippedAndCounted)
{
    TempDir home;
    writeRecord(home, MAIL::DecisionFileName,
                recordLine("first", "a@corp.example") + "{\"time\": \"cut off\n" + recordLine("last", "b@corp.example"));
    const QuickResult r = runPelorus({"--decisions"}, home);
    EXPECT_EQ(r.status, 0);
    const auto lines = linesOf(r.output);
    ASSERT_EQ(lines.size(), 4u) << r.output;
    EXPECT_NE(lines[1].find("first"), std::string::npos);
    EXPECT_NE(lines[2].find("last"), std::string::npos);
    EXPECT_EQ(lines[3], "Note: 1 line that is no record was skipped.");
}

TEST(DecisionsCommand, ACountOutsideOneToTenThousandExitsTwo)
{
    TempDir home;
    for (const char* count : {"0", "10001", "abc", "-1", "99999999999999999999", ""}) {
        const QuickResult r = runPelorus({"--decisions", count}, home);
        EXPECT_EQ(r.status, 2) << count;
        EXPECT_NE(r.errors.find("--decisions takes a number from 1 to 10000."), std::string::npos) << count;
    }
    EXPECT_EQ(runPelorus({"--decisions", "10000"}, home).status, 0);
}
