#include "config/ProxyConfiguration.h"
#include "config/Registry.h"

#include "support/TempDir.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using MAIL::ProxyConfiguration;
using MAIL::Registry;
using pelorus::test::readFile;
using pelorus::test::TempDir;
using pelorus::test::writeFile;

namespace {

constexpr const char* Key = "Software\\Corvane\\Application\\Pelorus\\Setting";

class RegistryFile : public testing::Test {
protected:
    TempDir dir;
    std::string file = dir / "Pelorus/settings.reg";
    Registry registry{"HKEY_CURRENT_USER", file};
};

} // namespace

TEST_F(RegistryFile, ValuesWrittenByOneStoreAreReadByAFreshOne)
{
    ASSERT_TRUE(registry.setString(Key, "Server", "mail.example.org"));
    ASSERT_TRUE(registry.setDWORD(Key, "Port", 587));
    Registry fresh("HKEY_CURRENT_USER", file);
    std::string server;
    std::uint32_t port = 0;
    EXPECT_TRUE(fresh.getString(Key, "server", server)) << "names compare without case";
    EXPECT_EQ(server, "mail.example.org");
    EXPECT_TRUE(fresh.getDWORD(Key, "PORT", port));
    EXPECT_EQ(port, 587u);
    EXPECT_EQ(pelorus::test::fileMode(file), 0600);
    EXPECT_EQ(pelorus::test::fileMode(dir / "Pelorus"), 0700);
    EXPECT_EQ(pelorus::test::listFolder(dir / "Pelorus"),
              (std::vector<std::string>{"settings.reg", "settings.reg.lock"}))
        << "no temporary file is left behind";
}

TEST_F(RegistryFile, ALineBreakInAValueRoundTrips)
{
    ASSERT_TRUE(registry.setString(Key, "Allowed", "a.com;\r\nb.com\x01"));
    std::string allowed;
    ASSERT_TRUE(registry.getString(Key, "Allowed", allowed));
    EXPECT_EQ(allowed, "a.com;\r\nb.com\x01");
    ASSERT_TRUE(registry.setString(Key, "Other", "x"));
    ASSERT_TRUE(registry.getString(Key, "Allowed", allowed));
    EXPECT_EQ(allowed, "a.com;\r\nb.com\x01");
}

TEST_F(RegistryFile, HandWrittenFileWithWrongTypesCrLfAndByteOrderMark)
{
    ASSERT_EQ(::mkdir((dir / "Pelorus").c_str(), 0700), 0);
    writeFile(file,
              "\xEF\xBB\xBFREGEDIT4\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Corvane\\Application\\Pelorus\\Setting]\r\n"
              "\"Server\"=hex(2):25,54,45,4d,50,25,00\r\n"
              "\"Port\"=\"25\"\r\n"
              "\"ProxyPort\"=dword:00010019\r\n"
              "\"Allowed\"=\"corp.example;\"\r\n");
    std::string server;
    EXPECT_FALSE(registry.getString(Key, "Server", server)) << "an expandable string reads as missing";
    std::uint32_t port = 7;
    EXPECT_FALSE(registry.getDWORD(Key, "Port", port)) << "a number stored as text reads as missing";
    EXPECT_EQ(port, 7u) << "output untouched on failure";
    std::string allowed;
    EXPECT_TRUE(registry.getString(Key, "Allowed", allowed));
    EXPECT_EQ(allowed, "corp.example;");
    // A write keeps the foreign value untouched.
    ASSERT_TRUE(registry.setDWORD(Key, "DialogTimeout", 90));
    EXPECT_NE(readFile(file).find("\"Server\"=hex(2):25,54,45,4d,50,25,00"), std::string::npos);
}

TEST_F(RegistryFile, StringsOfMoreThan1023BytesReadAsMissing)
{
    ASSERT_TRUE(registry.setString(Key, "Fits", std::string(1023, 'a').c_str()));
    ASSERT_TRUE(registry.setString(Key, "TooLong", std::string(1024, 'a').c_str()));
    std::string value;
    EXPECT_TRUE(registry.getString(Key, "Fits", value));
    EXPECT_EQ(value.size(), 1023u);
    EXPECT_FALSE(registry.getString(Key, "TooLong", value));
    char small[4];
    EXPECT_FALSE(registry.getString(Key, "Fits", small, sizeof small));
}

TEST_F(RegistryFile, NumberReadCreatesTheKeyStringReadDoesNot)
{
    std::string text;
    EXPECT_FALSE(registry.getString(Key, "Server", text));
    EXPECT_FALSE(pelorus::test::pathExists(file));
    std::uint32_t number = 0;
    EXPECT_FALSE(registry.getDWORD(Key, "Port", number));
    EXPECT_NE(readFile(file).find("[HKEY_CURRENT_USER\\Software\\Corvane\\Application\\Pelorus\\Setting]"),
              std::string::npos);
}

TEST_F(RegistryFile, AValueWrittenByHandIsSeenByTheNextRead)
{
    ASSERT_TRUE(registry.setDWORD(Key, "Port", 25));
    std::string content = readFile(file);
    content.replace(content.find("00000019"), 8, "0000024b");
    writeFile(file, content);
    std::uint32_t port = 0;
    ASSERT_TRUE(registry.getDWORD(Key, "Port", port));
    EXPECT_EQ(port, 587u);
}

// Inside a HeldReads scope the values come from the file as it was when the
// scope began, even when it changes meanwhile; after it, reads see the file.
TEST_F(RegistryFile, HeldReadsSeeOneVersionOfTheFile)
{
    ASSERT_TRUE(registry.setString(Key, "Server", "old.example.org"));
    ASSERT_TRUE(registry.setDWORD(Key, "Port", 25));
    Registry other("HKEY_CURRENT_USER", file);
    std::string server;
    std::uint32_t port = 0;
    {
        const Registry::HeldReads held(registry);
        ASSERT_TRUE(other.setString(Key, "Server", "new.example.org"));
        ASSERT_TRUE(other.setDWORD(Key, "Port", 587));
        EXPECT_TRUE(registry.getString(Key, "Server", server));
        EXPECT_EQ(server, "old.example.org");
        EXPECT_TRUE(registry.getDWORD(Key, "Port", port));
        EXPECT_EQ(port, 25u);
        EXPECT_FALSE(registry.getString(Key, "Missing", server));
    }
    EXPECT_TRUE(registry.getString(Key, "Server", server));
    EXPECT_EQ(server, "new.example.org");

    // A file that cannot be read stays a failed read inside the scope.
    Registry absent("HKEY_CURRENT_USER", dir / "elsewhere/settings.reg");
    const Registry::HeldReads held(absent);
    EXPECT_FALSE(absent.getString(Key, "Server", server));
}

TEST_F(RegistryFile, AFifoInPlaceOfTheFileFailsWithoutHanging)
{
    ASSERT_EQ(::mkdir((dir / "Pelorus").c_str(), 0700), 0);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    std::string value;
    EXPECT_FALSE(registry.getString(Key, "Server", value));
    EXPECT_FALSE(registry.setString(Key, "Server", "x")) << "a write must not replace what it cannot read";
}

TEST_F(RegistryFile, TwoProcessesWritingAtOnceLoseNothing)
{
    constexpr int Rounds = 40;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            Registry own("HKEY_CURRENT_USER", file);
            for (int i = 0; i < Rounds; ++i) {
                const std::string name = "P" + std::to_string(c) + "_" + std::to_string(i);
                if (!own.setDWORD(Key, name.c_str(), static_cast<std::uint32_t>(i)))
                    ::_exit(1);
            }
            ::_exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < Rounds; ++i) {
            const std::string name = "P" + std::to_string(c) + "_" + std::to_string(i);
            std::uint32_t value = 99999;
            EXPECT_TRUE(registry.getDWORD(Key, name.c_str(), value)) << name;
            EXPECT_EQ(value, static_cast<std::uint32_t>(i)) << name;
        }
    }
}

TEST_F(RegistryFile, AReadOnlyFolderFailsTheWriteAndKeepsTheFile)
{
    ASSERT_TRUE(registry.setString(Key, "Server", "kept.example"));
    const std::string before = readFile(file);
    const int result = pelorus::test::runAsUser(
        [&] {
            if (::chmod((dir / "Pelorus").c_str(), 0500) != 0)
                return 2;
            Registry mine("HKEY_CURRENT_USER", file);
            if (mine.setString(Key, "Server", "lost.example"))
                return 3;
            std::string server;
            if (!mine.getString(Key, "Server", server) || server != "kept.example")
                return 4;
            return 0;
        },
        {dir.path()});
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readFile(file), before);
}
