#include "shell/CommandLine.h"
#include "shell/SettingsValidation.h"

#include "config/ProxyConfiguration.h"
#include "relay/ServerSecurity.h"
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
             Case{"SecurityAnyCase", validateSecurity, " StartTLS ", nullptr},
             Case{"SecurityEmptyIsNone", validateSecurity, "", nullptr},
             Case{"SecuritySsl", validateSecurity, "ssl",
                  "Please enter none, starttls or tls as the security of the connection to the SMTP server."},
             Case{"NoCAFile", validateCAFile, "  ", nullptr},
             Case{"MissingCAFile", validateCAFile, "/nonexistent/ca.pem",
                  "The CA file (/nonexistent/ca.pem) cannot be read.\r\n\r\nPlease enter a readable PEM file of "
                  "certificates, or nothing to trust the system's certificates only."},
             Case{"CAFileIsAFolder", validateCAFile, "/",
                  "The CA file (/) cannot be read.\r\n\r\nPlease enter a readable PEM file of certificates, or "
                  "nothing to trust the system's certificates only."},
             Case{"VerifyOff", validateVerifyServer, "0", nullptr},
             Case{"VerifyYes", validateVerifyServer, "yes",
                  "Please enter 1 to verify the certificate of the SMTP server, or 0 not to."},
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

TEST(CommandLine, SecurityOptionsAreStoredAsTheRelayReadsThem)
{
    pelorus::test::TempDir home;
    pelorus::test::ScopedEnv config("XDG_CONFIG_HOME", home.path());
    const std::string caFile = home / "ca.pem";
    pelorus::test::writeFile(caFile, "-----BEGIN CERTIFICATE-----\n");
    ProgramOptions options;
    std::string message, warning;
    // A bad value stores nothing, not even the good ones before it.
    ASSERT_TRUE(parseCommandLine({"--security", "TLS", "--ca-file", caFile, "--verify-server", "2"}, options,
                                 message));
    EXPECT_FALSE(applySettingOptions(options, message, warning));
    EXPECT_EQ(message, "Please enter 1 to verify the certificate of the SMTP server, or 0 not to.");
    EXPECT_EQ(readServerSecurity().mode, SecurityMode::None);

    options = {};
    ASSERT_TRUE(parseCommandLine({"--security", "TLS", "--ca-file", caFile, "--verify-server", "0"}, options,
                                 message));
    EXPECT_TRUE(applySettingOptions(options, message, warning)) << message;
    ServerSecurity security = readServerSecurity();
    EXPECT_EQ(security.mode, SecurityMode::Tls);
    EXPECT_EQ(security.setting, "tls");
    EXPECT_EQ(security.caFile, caFile);
    EXPECT_FALSE(security.verify);

    options = {};
    ASSERT_TRUE(parseCommandLine({"--security", "none", "--ca-file", "", "--verify-server", "1"}, options, message));
    EXPECT_TRUE(applySettingOptions(options, message, warning)) << message;
    security = readServerSecurity();
    EXPECT_EQ(security.mode, SecurityMode::None);
    EXPECT_EQ(security.caFile, "");
    EXPECT_TRUE(security.verify);
}

TEST(SettingsValidation, SecurityWarningsAtStart)
{
    struct Case {
        const char* name;
        SecurityMode mode;
        bool verify;
        const char* listen;
        std::size_t warnings;
        const char* first;
    };
    for (const Case& c : {
             Case{"Defaults", SecurityMode::None, true, "127.0.0.1", 0, ""},
             Case{"VerificationOff", SecurityMode::StartTls, false, "127.0.0.1", 1, "Certificate verification is off"},
             Case{"PlainEverywhere", SecurityMode::None, true, "0.0.0.0", 0, ""},
             Case{"EncryptedOnlyUpstream", SecurityMode::Tls, true, "0.0.0.0", 1,
                  "Passwords cross the network unencrypted to Pelorus: it listens on 0.0.0.0, and only its "
                  "connection to the SMTP server is encrypted."},
             Case{"Both", SecurityMode::StartTls, false, "192.0.2.1", 2, "Certificate verification is off"},
         }) {
        ServerSecurity security;
        security.mode = c.mode;
        security.verify = c.verify;
        const auto warnings = securityWarnings(security, c.listen);
        ASSERT_EQ(warnings.size(), c.warnings) << c.name;
        if (!warnings.empty()) {
            EXPECT_EQ(warnings[0], c.first) << c.name;
        }
    }
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
