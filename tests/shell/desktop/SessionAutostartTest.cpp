// The autostart file behind "Start Pelorus when I log in": written from the
// menu entry with Exec naming the running executable, private, never
// through a link, read back and removed; Exec arguments quoted as desktop
// files want them; and a folder the user cannot write gives the message.
#include "shell/desktop/SessionAutostart.h"

#include "relay/RelayTestSupport.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

using namespace pelorus::test;

namespace {

std::string execLineOf(const std::string& text)
{
    const std::size_t start = text.find("\nExec=");
    return start == std::string::npos ? "" : text.substr(start + 1, text.find('\n', start + 1) - start - 1);
}

TEST(SessionAutostart, IsWrittenFromTheMenuEntryReadBackAndRemoved)
{
    TempDir config;
    ScopedEnv home("XDG_CONFIG_HOME", config.path());
    const std::string file = MAIL::autostartFile();
    EXPECT_EQ(file, config / "autostart/pelorus.desktop");
    EXPECT_FALSE(MAIL::autostartEnabled(file));

    const std::string executable = MAIL::runningExecutable();
    ASSERT_EQ(executable, std::filesystem::canonical("/proc/self/exe").string());
    EXPECT_EQ(MAIL::writeAutostart(file, MAIL::menuEntryFile(), executable), std::nullopt);
    EXPECT_TRUE(MAIL::autostartEnabled(file));
    EXPECT_EQ(fileMode(config / "autostart"), 0700);
    EXPECT_EQ(fileMode(file), 0600);
    const std::string written = readFile(file);
    EXPECT_EQ(execLineOf(written), "Exec=" + executable);
    EXPECT_NE(written.find("Name=Pelorus\n"), std::string::npos);
    EXPECT_EQ(listFolder(config / "autostart").size(), 1u) << "no temporary file left";
    const ProgramResult valid = runProgram({"desktop-file-validate", file});
    EXPECT_EQ(valid.status, 0) << valid.output;

    EXPECT_EQ(MAIL::removeAutostart(file), std::nullopt);
    EXPECT_FALSE(pathExists(file));
    EXPECT_FALSE(MAIL::autostartEnabled(file));
    EXPECT_EQ(MAIL::removeAutostart(file), std::nullopt) << "nothing to remove is no failure";
}

TEST(SessionAutostart, ReplacesALinkAtItsNameAndDropsTryExecAndHidden)
{
    TempDir dir;
    writeFile(dir / "menu.desktop", "# made by hand\n[Desktop Entry]\nType=Application\nName=Pelorus\n"
                                    "TryExec=pelorus\nHidden=true\n[Desktop Action quiet]\nName=Quiet\n"
                                    "Exec=pelorus --headless\n");
    writeFile(dir / "victim", "kept\n");
    ASSERT_EQ(::symlink((dir / "victim").c_str(), (dir / "pelorus.desktop").c_str()), 0);
    EXPECT_EQ(MAIL::writeAutostart(dir / "pelorus.desktop", dir / "menu.desktop", "/opt/pelorus"), std::nullopt);
    EXPECT_EQ(readFile(dir / "victim"), "kept\n");
    EXPECT_EQ(readFile(dir / "pelorus.desktop"),
              "# made by hand\n[Desktop Entry]\nType=Application\nName=Pelorus\nExec=/opt/pelorus\n"
              "[Desktop Action quiet]\nName=Quiet\nExec=pelorus --headless\n");
    EXPECT_TRUE(MAIL::autostartEnabled(dir / "pelorus.desktop"));
}

TEST(SessionAutostart, HiddenOnlyInTheMainGroupTurnsItOff)
{
    TempDir dir;
    const std::string file = dir / "pelorus.desktop";
    for (const auto& [text, enabled] : std::vector<std::pair<std::string, bool>>{
             {"[Desktop Entry]\nExec=pelorus\n", true},
             {"[Desktop Entry]\nHidden = true\r\nExec=pelorus\n", false},
             {"[Desktop Entry]\nHidden=false\n", true},
             {"[Desktop Entry]\n[Desktop Action a]\nHidden=true\n", true},
         }) {
        writeFile(file, text);
        EXPECT_EQ(MAIL::autostartEnabled(file), enabled) << text;
    }
}

TEST(SessionAutostart, ExecArgumentsAreQuotedAndEscaped)
{
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases{
        {"/usr/bin/pelorus", "/usr/bin/pelorus"},
        {"/opt/my apps/pelorus", "\"/opt/my apps/pelorus\""},
        {"/opt/a\"b$c`d", "\"/opt/a\\\\\"b\\\\$c\\\\`d\""},
        {"/opt/back\\slash", "\"/opt/back\\\\\\\\slash\""},
        {"/opt/100%/pelorus", "/opt/100%%/pelorus"},
        {"/opt/it's/pelorus", "\"/opt/it's/pelorus\""},
        {"pelorus", std::nullopt},
        {"/opt/line\nbreak", std::nullopt},
        {"/opt/\xff", std::nullopt},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(MAIL::execArgument(path), expected) << path;

    TempDir dir;
    const std::string file = dir / "pelorus.desktop";
    ASSERT_EQ(MAIL::writeAutostart(file, MAIL::menuEntryFile(), "/opt/my \"apps\"/100%/pelorus"), std::nullopt);
    const ProgramResult valid = runProgram({"desktop-file-validate", file});
    EXPECT_EQ(valid.status, 0) << valid.output;
}

TEST(SessionAutostart, AMissingMenuEntryIsSaid)
{
    TempDir dir;
    EXPECT_EQ(MAIL::writeAutostart(dir / "pelorus.desktop", dir / "none.desktop", "/opt/pelorus"),
              "Pelorus could not write " + (dir / "pelorus.desktop") + ": the menu entry " + (dir / "none.desktop") +
                  " cannot be read (No such file or directory).");
    EXPECT_FALSE(pathExists(dir / "pelorus.desktop"));
}

// Root writes anyway: the check runs as an ordinary user.
TEST(SessionAutostart, AReadOnlyAutostartFolderGivesTheMessage)
{
    TempDir dir;
    const std::string folder = dir / "autostart";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string file = folder + "/pelorus.desktop";
    const std::string menu = MAIL::menuEntryFile();
    const int result = runAsUser(
        [&] {
            if (::chmod(folder.c_str(), 0500) != 0)
                return 2;
            const std::optional<std::string> failure = MAIL::writeAutostart(file, menu, "/opt/pelorus");
            if (failure != "Pelorus could not write " + file + ": Permission denied.")
                return 3;
            return MAIL::autostartEnabled(file) ? 4 : 0;
        },
        {dir.path()});
    ::chmod(folder.c_str(), 0700);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(listFolder(folder).empty());
}

} // namespace
