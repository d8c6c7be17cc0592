#include "policy/PatternList.h"
#include "policy/TrustedDomain.h"
#include "policy/TrustedRecipient.h"

#include "config/ProxyConfiguration.h"

#include "support/CaptureStdout.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using MAIL::LinkedList;
using MAIL::PatternList;
using MAIL::String;
using MAIL::TrustedDomain;
using MAIL::TrustedRecipient;
using namespace pelorus::test;

namespace {

using Texts = std::vector<std::string>;

Texts textsOf(const LinkedList& list)
{
    Texts texts;
    list.forEach<String>([&](const String& s) { texts.emplace_back(s.view()); });
    return texts;
}

std::unique_ptr<LinkedList> listOf(const Texts& texts)
{
    auto list = std::make_unique<LinkedList>();
    for (const std::string& text : texts)
        list->add(new String(text.c_str()));
    return list;
}

std::string repeat(std::size_t count, char c) { return std::string(count, c); }

// Runs work in a child process whose exit status is its result.
pid_t spawn(const std::function<int()>& work)
{
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(work());
    return child;
}

int exitStatus(pid_t child, int status) { return child > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

class TrustedListFile : public testing::Test {
protected:
    void setAllowed(const std::string& allowed) { ASSERT_TRUE(MAIL::ProxyConfiguration().setAllowed(allowed)); }

    TempDir dir;
    ScopedEnv config{"XDG_CONFIG_HOME", dir.path()};
    std::string folder = dir / "Pelorus";
    std::string domainFile = folder + "/TrustedDomain.pel";
    std::string recipientFile = folder + "/TrustedRecipient.plx";
};

// Parameterised cases are named by their name field, in test names and output.
template <class Case>
std::string caseName(const testing::TestParamInfo<Case>& info) { return info.param.name; }

} // namespace

TEST_F(TrustedListFile, SaveKeepsThePreviousContentAsAPrivateBackup)
{
    TrustedRecipient recipients;
    EXPECT_EQ(recipients.getPath(), recipientFile);
    EXPECT_EQ(TrustedDomain().getPath(), domainFile);
    EXPECT_EQ(fileMode(folder), 0700);
    writeFile(recipientFile, "c\r\n");
    auto first = listOf({"a", "b"});
    first->add(new String());  // no text: not an entry
    ASSERT_TRUE(recipients.save(*first));
    EXPECT_EQ(readFile(recipientFile), "a\nb\n");
    EXPECT_EQ(readFile(recipients.getBackupPath()), "c\r\n");
    ASSERT_TRUE(recipients.save(*listOf({"d"})));
    EXPECT_EQ(readFile(recipientFile), "d\n");
    EXPECT_EQ(readFile(recipients.getBackupPath()), "a\nb\n");
    EXPECT_EQ(fileMode(recipientFile), 0600);
    EXPECT_EQ(fileMode(recipients.getBackupPath()), 0600);
    EXPECT_EQ(listFolder(folder), (Texts{"TrustedRecipient.plx", "TrustedRecipient.plx.bar",
                                         "TrustedRecipient.plx.lock"}))
        << "no temporary file is left behind";

    EXPECT_TRUE(recipients.remove());
    EXPECT_FALSE(pathExists(recipientFile));
    EXPECT_EQ(readFile(recipients.getBackupPath()), "a\nb\n") << "remove makes no backup";
    EXPECT_FALSE(recipients.remove());
    EXPECT_EQ(recipients.lastError(), ENOENT);
}

TEST(TrustedListFileLocation, WithoutAUsableFolderEveryOperationFails)
{
    TempDir dir;
    writeFile(dir / "plain", "not a folder");
    ScopedEnv config("XDG_CONFIG_HOME", dir / "plain");
    TrustedDomain domains;
    EXPECT_EQ(domains.getPath(), "");
    PatternList patterns;
    EXPECT_EQ(domains.load(patterns), 0);
    EXPECT_FALSE(domains.save(*listOf({"a.example"})));
    EXPECT_FALSE(domains.add(*listOf({"a.example"})));
    EXPECT_FALSE(domains.remove());
}

namespace {

struct ReadCase {
    const char* name;
    std::string content;
    Texts entries;
};
void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

class TrustedRecipientReading : public TrustedListFile, public testing::WithParamInterface<ReadCase> {};

} // namespace

TEST_P(TrustedRecipientReading, CutsTheFileIntoEntries)
{
    const ReadCase& c = GetParam();
    TrustedRecipient recipients;
    writeFile(recipientFile, c.content);
    LinkedList list;
    EXPECT_EQ(recipients.load(list), static_cast<int>(c.entries.size()));
    EXPECT_EQ(textsOf(list), c.entries);
    PatternList patterns;
    EXPECT_EQ(recipients.load(patterns), static_cast<int>(c.entries.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrustedRecipientReading,
    testing::Values(
        ReadCase{"LfLines", "ann\nbob\n", {"ann", "bob"}},
        ReadCase{"CrLfLines", "ann\r\nbob\r\n", {"ann", "bob"}},
        ReadCase{"LastLineWithoutLineEnd", "ann\nbob", {"ann", "bob"}},
        ReadCase{"BlankLineIsAnEmptyEntry", "ann\n\nbob\r\n\r\n", {"ann", "", "bob", ""}},
        ReadCase{"LoneCarriageReturnsStay", "a\rb\nc\r", {"a\rb", "c\r"}},
        ReadCase{"BlanksAndBytesUnchanged", " J\xC3\xB6rg <j@x.example> \t\n", {" J\xC3\xB6rg <j@x.example> \t"}},
        ReadCase{"EmptyFile", "", {}},
        ReadCase{"Line1022", repeat(1022, 'a') + "\nz\n", {repeat(1022, 'a'), "z"}},
        ReadCase{"Line1022CrLf", repeat(1022, 'a') + "\r\nz\r\n", {repeat(1022, 'a'), "z"}},
        ReadCase{"Line1023", repeat(1023, 'a') + "\nz\n", {repeat(1023, 'a'), "z"}},
        ReadCase{"Line1023CrLf", repeat(1023, 'a') + "\r\nz\r\n", {repeat(1023, 'a'), "z"}},
        ReadCase{"Line1023AtTheEnd", repeat(1023, 'a'), {repeat(1023, 'a')}},
        ReadCase{"Line1023ThenABlankLine", repeat(1023, 'a') + "\n\nz\n", {repeat(1023, 'a'), "", "z"}},
        ReadCase{"Line1024", repeat(1023, 'a') + "b\n", {repeat(1023, 'a'), "b"}},
        ReadCase{"Line1500", repeat(1023, 'a') + repeat(477, 'b') + "\n", {repeat(1023, 'a'), repeat(477, 'b')}},
        ReadCase{"Line2046CrLf", repeat(1023, 'a') + repeat(1023, 'b') + "\r\nz\n",
                 {repeat(1023, 'a'), repeat(1023, 'b'), "z"}},
        ReadCase{"LoneCarriageReturnAtTheCut", repeat(1022, 'a') + "\rb\n", {repeat(1022, 'a') + "\r", "b"}}),
    caseName<ReadCase>);

TEST_F(TrustedListFile, AFifoInPlaceOfAListNeitherHangsNorIsReplaced)
{
    TrustedRecipient recipients;
    ASSERT_EQ(::mkfifo(recipientFile.c_str(), 0600), 0);
    LinkedList list;
    EXPECT_EQ(recipients.load(list), 0);
    EXPECT_FALSE(recipients.save(*listOf({"a"})));
    struct stat info{};
    ASSERT_EQ(::lstat(recipientFile.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST_F(TrustedListFile, AtMost100000EntriesAreReadAndSuchAFileIsNotRewritten)
{
    TrustedDomain domains;
    std::string content;
    char line[16];
    for (int i = 0; i <= 100000; ++i) {
        std::snprintf(line, sizeof line, "d%06d\n", i);
        content += line;
    }
    writeFile(domainFile, content);
    PatternList patterns;
    EXPECT_EQ(domains.load(patterns), 100000);
    EXPECT_TRUE(patterns.isAllowedDomain("<x@d099999>"));
    EXPECT_FALSE(patterns.isAllowedDomain("<x@d100000>"));
    EXPECT_FALSE(domains.add(*listOf({"new.example"}))) << "adding would drop the entries past the limit";
    EXPECT_EQ(readFile(domainFile), content);
}

namespace {

struct SeedCase {
    const char* name;
    std::optional<std::string> file;  // nullopt: no file
    std::string allowed;
    Texts entries;
    std::optional<std::string> fileAfter;
};
void PrintTo(const SeedCase& c, std::ostream* out) { *out << c.name; }

class TrustedDomainSeeding : public TrustedListFile, public testing::WithParamInterface<SeedCase> {};

} // namespace

TEST_P(TrustedDomainSeeding, AnExistingFileWithoutEntriesIsSeededFromAllowed)
{
    const SeedCase& c = GetParam();
    TrustedDomain domains;
    if (c.file)
        writeFile(domainFile, *c.file);
    setAllowed(c.allowed);
    LinkedList list;
    EXPECT_EQ(domains.load(list), static_cast<int>(c.entries.size()));
    EXPECT_EQ(textsOf(list), c.entries);
    if (c.fileAfter)
        EXPECT_EQ(readFile(domainFile), *c.fileAfter);
    else
        EXPECT_FALSE(pathExists(domainFile));
    PatternList again;
    EXPECT_EQ(TrustedDomain().load(again), static_cast<int>(c.entries.size())) << "the next load reads the same";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrustedDomainSeeding,
    testing::Values(
        SeedCase{"FileMissing", std::nullopt, "a.example;b.example", {}, std::nullopt},
        SeedCase{"FileEmpty", "", "a.example;b.example", {"a.example", "b.example"}, "a.example\nb.example\n"},
        SeedCase{"AllowedEmpty", "", "", {}, ""},
        SeedCase{"TrailingSemicolonAddsAnEmptyEntry", "", "a.example;", {"a.example", ""}, "a.example\n\n"},
        SeedCase{"TokensTrimmedAndUnquoted", "", " a.example\t; \"b;c.example\" ", {"a.example", "b;c.example"},
                 "a.example\nb;c.example\n"},
        SeedCase{"RunsOfSemicolons", "", "a.example;;b.example", {"a.example", "b.example"},
                 "a.example\nb.example\n"},
        SeedCase{"FileWithEntries", "x.example\n", "a.example", {"x.example"}, "x.example\n"},
        SeedCase{"FileWithABlankLine", "\n", "a.example", {""}, "\n"}),
    caseName<SeedCase>);

namespace {

struct AddCase {
    const char* name;
    std::optional<std::string> before;  // nullopt: no file
    Texts added;
    std::string after;
};
void PrintTo(const AddCase& c, std::ostream* out) { *out << c.name; }

class TrustedDomainAdd : public TrustedListFile, public testing::WithParamInterface<AddCase> {};

} // namespace

TEST_P(TrustedDomainAdd, AppendsOnlyWhatTheFileLacks)
{
    const AddCase& c = GetParam();
    TrustedDomain domains;
    if (c.before)
        writeFile(domainFile, *c.before);
    EXPECT_TRUE(domains.add(*listOf(c.added)));
    EXPECT_EQ(readFile(domainFile), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrustedDomainAdd,
    testing::Values(
        AddCase{"MissingEntriesOnly", "a.example\n", {"a.example", "b.example"}, "a.example\nb.example\n"},
        AddCase{"LastLineWithoutLineEnd", "a.example", {"b.example"}, "a.example\nb.example\n"},
        AddCase{"OldBytesKept", "a.example\r\n c \r\n", {"b.example"}, "a.example\r\n c \r\nb.example\n"},
        AddCase{"LetterCaseCounts", "A.example\n", {"a.example"}, "A.example\na.example\n"},
        AddCase{"EqualElementsBothAppended", "", {"b", "b"}, "b\nb\n"},
        AddCase{"NothingMissing", "a\r\n", {"a"}, "a\r\n"},
        AddCase{"MissingFileIsCreated", std::nullopt, {"a"}, "a\n"}),
    caseName<AddCase>);

TEST_F(TrustedListFile, AddTellsWhatItAppendsOnStandardOutput)
{
    TrustedDomain domains;
    writeFile(domainFile, "a\n");
    DiagnosticsCapture capture;
    ASSERT_TRUE(domains.add(*listOf({"a", "b"})));
    const std::string output = capture.take();
    EXPECT_NE(output.find("add(LinkedList& recipient)\n"), std::string::npos) << output;
    EXPECT_NE(output.find("isContained matched a a\n"), std::string::npos) << output;
    EXPECT_NE(output.find("Not Contained in file, so append 'b'\n"), std::string::npos) << output;
    EXPECT_EQ(output.find("append 'a'"), std::string::npos) << output;
}

TEST_F(TrustedListFile, AReadOnlyFolderFailsEveryChangeAndKeepsTheFile)
{
    ASSERT_TRUE(TrustedDomain().save(*listOf({"kept.example"})));
    const std::string before = readFile(domainFile);
    const int result = runAsUser(
        [&] {
            if (::chmod(folder.c_str(), 0500) != 0)
                return 2;
            TrustedDomain mine;
            const auto other = listOf({"lost.example"});
            if (mine.save(*other) || mine.lastError() != EACCES)
                return 3;
            if (mine.add(*other))
                return 4;
            if (mine.remove())
                return 5;
            LinkedList loaded;
            return mine.load(loaded) == 1 && textsOf(loaded) == Texts{"kept.example"} ? 0 : 6;
        },
        {dir.path()});
    ::chmod(folder.c_str(), 0700);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readFile(domainFile), before);
    EXPECT_EQ(listFolder(folder), (Texts{"TrustedDomain.pel", "TrustedDomain.pel.lock"}));
}

namespace {

// Loads until the writer process has exited; every load must give one of
// the expected lists. Returns how many did not.
int wrongLoadsWhile(pid_t writer, const std::function<Texts()>& load, const std::vector<Texts>& expected)
{
    int reads = 0, wrong = 0, status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(writer, &status, WNOHANG)) == 0) {
        if (std::find(expected.begin(), expected.end(), load()) == expected.end())
            ++wrong;
        ++reads;
    }
    EXPECT_EQ(exitStatus(done, status), 0) << "the writer failed";
    EXPECT_GT(reads, 0);
    return wrong;
}

} // namespace

TEST_F(TrustedListFile, ReadersSeeTheOldOrTheNewListWhileSaving)
{
    Texts oldTexts, newTexts;
    for (int i = 0; i < 300; ++i) {
        oldTexts.push_back("old" + std::to_string(i) + "@corp.example");
        newTexts.push_back("new" + std::to_string(i) + "@corp.example");
    }
    const auto oldList = listOf(oldTexts), newList = listOf(newTexts);
    ASSERT_TRUE(TrustedRecipient().save(*oldList));
    const pid_t writer = spawn([&] {
        for (int round = 0; round < 200; ++round)
            if (!TrustedRecipient().save(round % 2 == 0 ? *newList : *oldList))
                return 1;
        return 0;
    });
    ASSERT_GT(writer, 0);
    const auto load = [] {
        LinkedList seen;
        TrustedRecipient().load(seen);
        return textsOf(seen);
    };
    EXPECT_EQ(wrongLoadsWhile(writer, load, {oldTexts, newTexts}), 0);
}

// A reader that finds the file empty seeds it itself, so every load must
// give the whole seeded list; a cut entry would show as a shorter one.
TEST_F(TrustedListFile, ReadersSeeACompleteListWhileSeeding)
{
    Texts domains;
    std::string allowed;
    for (int i = 0; i < 40; ++i) {
        domains.push_back("d" + std::to_string(i) + ".example");
        allowed += domains.back() + ";";
    }
    allowed.pop_back();
    setAllowed(allowed);
    const LinkedList empty;
    ASSERT_TRUE(TrustedDomain().save(empty));
    const pid_t writer = spawn([&] {
        for (int round = 0; round < 100; ++round) {
            TrustedDomain file;
            LinkedList seeded;
            if (!file.save(empty) || file.load(seeded) != 40)
                return 1;
        }
        return 0;
    });
    ASSERT_GT(writer, 0);
    const auto load = [] {
        LinkedList seen;
        TrustedDomain().load(seen);
        return textsOf(seen);
    };
    EXPECT_EQ(wrongLoadsWhile(writer, load, {domains}), 0);
}

TEST_F(TrustedListFile, ASaveRacingASeedingLoadKeepsTheSavedList)
{
    setAllowed("seed.example");
    const LinkedList empty;
    const auto saved = listOf({"saved.example"});
    for (int round = 0; round < 30; ++round) {
        ASSERT_TRUE(TrustedDomain().save(empty));
        int start[2];
        ASSERT_EQ(::pipe(start), 0);
        const pid_t writer = spawn([&] {
            char go = 0;
            return ::read(start[0], &go, 1) == 1 && TrustedDomain().save(*saved) ? 0 : 1;
        });
        ASSERT_GT(writer, 0);
        ASSERT_EQ(::write(start[1], "g", 1), 1);
        LinkedList loaded;
        TrustedDomain().load(loaded);
        ::close(start[0]);
        ::close(start[1]);
        int status = 0;
        ASSERT_EQ(exitStatus(::waitpid(writer, &status, 0), status), 0);
        ASSERT_EQ(readFile(domainFile), "saved.example\n") << "round " << round;
    }
}
