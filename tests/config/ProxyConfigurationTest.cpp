#include "config/ProxyConfiguration.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

using MAIL::ProxyConfiguration;
using pelorus::test::ScopedEnv;
using pelorus::test::TempDir;

namespace {

// Each test gets its own config folder, so the store starts empty.
class Settings : public testing::Test {
protected:
    TempDir dir;
    ScopedEnv config{"XDG_CONFIG_HOME", dir.path()};
    ProxyConfiguration settings;
};

} // namespace

TEST_F(Settings, EmptyStoreGivesDefaultsAndCreatesTheKey)
{
    std::string server = "x", allowed = "x";
    std::uint16_t port = 0, proxyPort = 0;
    std::int32_t timeout = 0, delay = 7;
    EXPECT_FALSE(settings.getServer(server));
    EXPECT_EQ(server, "smtp.example.com");
    EXPECT_FALSE(settings.getPort(port));
    EXPECT_EQ(port, 25);
    EXPECT_FALSE(settings.getProxyPort(proxyPort));
    EXPECT_EQ(proxyPort, 2525);
    EXPECT_FALSE(settings.getDialogTimeout(timeout));
    EXPECT_EQ(timeout, 50);
    EXPECT_FALSE(settings.getSendDelay(delay));
    EXPECT_EQ(delay, 0) << "no hold";
    EXPECT_FALSE(settings.getAllowed(allowed));
    EXPECT_EQ(allowed, "");
    EXPECT_EQ(settings.getFile(), dir.path() + "/Pelorus/settings.reg");
    EXPECT_EQ(pelorus::test::readFile(settings.getFile()),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Corvane\\Application\\Pelorus\\Setting]\n\n");
}

TEST_F(Settings, PortsKeepTheLow16Bits)
{
    ASSERT_TRUE(settings.setDWORD(ProxyConfiguration::SettingKey, "Port", 65536 + 587));
    std::uint16_t port = 0;
    EXPECT_TRUE(settings.getPort(port));
    EXPECT_EQ(port, 587);
    ASSERT_TRUE(settings.setProxyPort(10025));
    EXPECT_TRUE(settings.getProxyPort(port));
    EXPECT_EQ(port, 10025);
}

// DialogTimeout of ten or less reads as fifty; SendDelay past its maximum
// reads as the maximum.
TEST_F(Settings, NumbersOutOfTheirRangeReadAsTheirLimit)
{
    struct Case {
        const char* name;
        bool (ProxyConfiguration::*get)(std::int32_t&);
        std::int32_t stored, read;
    };
    const auto timeout = &ProxyConfiguration::getDialogTimeout;
    const auto delay = &ProxyConfiguration::getSendDelay;
    for (const Case& c : {Case{"DialogTimeout", timeout, 10, 50}, Case{"DialogTimeout", timeout, 11, 11},
                          Case{"DialogTimeout", timeout, -5, 50}, Case{"DialogTimeout", timeout, 300, 300},
                          Case{"SendDelay", delay, 0, 0}, Case{"SendDelay", delay, 60, 60},
                          Case{"SendDelay", delay, 61, 60}}) {
        ASSERT_TRUE(settings.setDWORD(ProxyConfiguration::SettingKey, c.name, static_cast<std::uint32_t>(c.stored)));
        std::int32_t value = 0;
        EXPECT_TRUE((settings.*c.get)(value)) << c.name;
        EXPECT_EQ(value, c.read) << c.name << " " << c.stored;
    }
}

// Each switch has its default when absent, and any stored value but 0 is on.
TEST_F(Settings, SwitchesReadTheirDefaultThenAnythingButZeroAsOn)
{
    struct Case {
        const char* name;
        bool (ProxyConfiguration::*get)(bool&);
        bool absent;
    };
    for (const Case& c : {Case{"FlagNewRecipients", &ProxyConfiguration::getFlagNewRecipients, true},
                          Case{"ConfirmEachRecipient", &ProxyConfiguration::getConfirmEachRecipient, false},
                          Case{"HoldTrusted", &ProxyConfiguration::getHoldTrusted, true}}) {
        bool on = !c.absent;
        EXPECT_FALSE((settings.*c.get)(on)) << c.name;
        EXPECT_EQ(on, c.absent) << c.name;
        for (const std::uint32_t stored : {0u, 1u, 7u}) {
            ASSERT_TRUE(settings.setDWORD(ProxyConfiguration::SettingKey, c.name, stored));
            EXPECT_TRUE((settings.*c.get)(on)) << c.name;
            EXPECT_EQ(on, stored != 0) << c.name << " " << stored;
        }
    }
}

TEST_F(Settings, ConsoleIsOnOnlyForExactlyTrue)
{
    for (const char* text : {"True", "TRUE", "yes", "1", "true "}) {
        ASSERT_TRUE(settings.setString(ProxyConfiguration::LogKey, "Console", text));
        bool console = true;
        EXPECT_TRUE(settings.getConsole(console));
        EXPECT_FALSE(console) << text;
    }
    ASSERT_TRUE(settings.setString(ProxyConfiguration::LogKey, "Console", "true"));
    bool console = false;
    EXPECT_TRUE(settings.getConsole(console));
    EXPECT_TRUE(console);
}

TEST_F(Settings, LogGettersLeaveThePresetsOnFailure)
{
    std::string dir = "preset", name = "preset.log";
    std::int32_t level = 3, number = 5, size = 500;
    EXPECT_FALSE(settings.getLogDirectory(dir));
    EXPECT_FALSE(settings.getLogFileName(name));
    EXPECT_FALSE(settings.getLogLevel(level));
    EXPECT_FALSE(settings.getRotationNumber(number));
    EXPECT_FALSE(settings.getRotationFileSize(size));
    EXPECT_EQ(dir, "preset");
    EXPECT_EQ(name, "preset.log");
    EXPECT_EQ(level, 3);
    EXPECT_EQ(number, 5);
    EXPECT_EQ(size, 500);
}

TEST_F(Settings, ServerAndAllowedAreStoredAsTheyAre)
{
    ASSERT_TRUE(settings.setServer("192.0.2.10"));
    ASSERT_TRUE(settings.setAllowed("corp.example;\"odd;name\""));
    ProxyConfiguration fresh;
    std::string server, allowed;
    EXPECT_TRUE(fresh.getServer(server));
    EXPECT_EQ(server, "192.0.2.10");
    EXPECT_TRUE(fresh.getAllowed(allowed));
    EXPECT_EQ(allowed, "corp.example;\"odd;name\"");
}
