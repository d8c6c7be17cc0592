#include "shell/CommandLine.h"
#include "shell/SettingsValidation.h"

#include "config/ProxyConfiguration.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace MAIL;

TEST(SettingsValidation, EachFieldWithItsOwnMessage)
{
    struct Case {
        const char* name;
        std::optional<std::string> (*check)(std::string_view);
        const char* text;
        const char* message;  // null: accepted
    };
    for (const Case& c : {
             Case{"SpacesOnlyServer", validateServerName, "  \t ",
                  "SMTP server name is empty!\r\n\r\nPlease enter the SMTP server name."},
             Case{"Ipv4WithoutReverseEntry", validateServerName, " 192.0.2.7 ", nullptr},
             Case{"Localhost", validateServerName, "localhost", nullptr},
             Case{"UnknownHost", validateServerName, "no-such-host.invalid",
                  "Not found host name of the SMTP server(no-such-host.invalid).\r\n\r\nPlease reconfirm the SMTP "
                  "server name."},
             Case{"EmptyPort", validateServerPort, "",
                  "Port number is empty!\r\n\r\nPlease enter the port number to the SMTP server."},
             Case{"PortZero", validateServerPort, "0",
                  "Port number is invalid.\r\n\r\nPlease enter the port number in the range [1,65535] to the SMTP "
                  "server."},
             Case{"Port65536", validateServerPort, "65536",
                  "Port number is invalid.\r\n\r\nPlease enter the port number in the range [1,65535] to the SMTP "
                  "server."},
             Case{"Port65535", validateServerPort, "65535", nullptr},
             Case{"PortWithTrailingText", validateServerPort, " 587abc", nullptr},
             Case{"EmptyProxyPort", validateProxyPort, "", "Please enter the port number to the Pelorus."},
             Case{"ProxyPortTooBig", validateProxyPort, "70000",
                  "Please enter the port number in the range [1, 65535] to the Pelorus."},
             Case{"ListenAnywhere", validateListenAddress, "0.0.0.0", nullptr},
             Case{"ListenName", validateListenAddress, "localhost",
                  "Please enter an IPv4 address to listen on, such as 127.0.0.1 or 0.0.0.0."},
         }) {
        const auto result = c.check(c.text);
        if (c.message == nullptr)
            EXPECT_FALSE(result.has_value()) << c.name << ": " << result.value_or("");
        else
            EXPECT_EQ(result.value_or("(accepted)"), c.message) << c.name;
    }
}

TEST(CommandLine, SettingsAreCheckedBeforeAnyIsStored)
{
    pelorus::test::TempDir home;
    pelorus::test::ScopedEnv config("XDG_CONFIG_HOME", home.path());
    ProgramOptions options;
    std::string message, warning;
    ASSERT_TRUE(parseCommandLine({"--server", "127.0.0.1", "--port", "587", "--proxy-port", "0"}, options, message));
    EXPECT_FALSE(applySettingOptions(options, message, warning));
    EXPECT_EQ(message, "Please enter the port number in the range [1, 65535] to the Pelorus.");
    std::string server;
    EXPECT_FALSE(ProxyConfiguration().getServer(server)) << "nothing stored";

    options = {};
    ASSERT_TRUE(parseCommandLine({"--server", " 127.0.0.1 ", "--port", "587", "--proxy-port", "10025", "--listen",
                                  "0.0.0.0"},
                                 options, message));
    EXPECT_TRUE(applySettingOptions(options, message, warning)) << message;
    EXPECT_NE(warning.find("other machines"), std::string::npos);
    ProxyConfiguration settings;
    std::uint16_t port = 0, proxyPort = 0;
    std::string listen;
    EXPECT_TRUE(settings.getServer(server));
    EXPECT_EQ(server, "127.0.0.1");
    EXPECT_TRUE(settings.getPort(port));
    EXPECT_EQ(port, 587);
    EXPECT_TRUE(settings.getProxyPort(proxyPort));
    EXPECT_EQ(proxyPort, 10025);
    EXPECT_TRUE(settings.getListenAddress(listen));
    EXPECT_EQ(listen, "0.0.0.0");
}

TEST(CommandLine, UnknownAndIncompleteOptions)
{
    ProgramOptions options;
    std::string message;
    EXPECT_FALSE(parseCommandLine({"--bogus"}, options, message));
    EXPECT_NE(message.find("unknown option '--bogus'"), std::string::npos);
    EXPECT_FALSE(parseCommandLine({"--server"}, options, message));
    EXPECT_NE(message.find("needs a value"), std::string::npos);
}
