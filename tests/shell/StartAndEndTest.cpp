// The program's start and end as its user meets them: a copy kept out by
// the running one changes nothing, a start that failed announces nothing,
// and an end in the middle of a slow forward comes on time without a 250
// for a mail that did not go out.
#include "ProgramProcess.h"

#include "config/ProxyConfiguration.h"
#include "relay/RelayTestSupport.h"
#include "shell/ProxyService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <map>

using namespace pelorus::test;

namespace {

// The options that store a server and a proxy port.
std::vector<std::string> serverOptions(std::uint16_t serverPort, std::uint16_t proxyPort)
{
    return {"--headless", "--server", "127.0.0.1", "--port", std::to_string(serverPort), "--proxy-port",
            std::to_string(proxyPort)};
}

// Trusts bob@corp.example fully: his mails pass without a question.
void trustBob(const TempDir& home)
{
    std::filesystem::create_directories(home / "config/Pelorus");
    writeFile(home / "config/Pelorus/TrustedRecipient.plx", "bob@corp.example\n");
}

// Every file of the settings folder with its bytes.
std::map<std::string, std::string> settingFiles(const TempDir& home)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(home / "config"))
        if (entry.is_regular_file())
            files[entry.path()] = readFile(entry.path());
    return files;
}

} // namespace

TEST(StartAndEnd, ACopyKeptOutStoresNoSetting)
{
    std::signal(SIGPIPE, SIG_IGN);
    const std::uint16_t port = freePort();
    TempDir home;
    trustBob(home);
    ProgramProcess first({serverOptions(2526, port), false, false, &home});
    ASSERT_TRUE(first.waitListening(port)) << first.output();
    const auto before = settingFiles(first.home());

    QuickResult second = runPelorus({"--headless", "--server", "198.51.100.7", "--port", "25"}, first.home());
    EXPECT_EQ(second.status, 255);
    EXPECT_NE(second.errors.find("Pelorus is already running.\n"), std::string::npos) << second.errors;
    EXPECT_NE(second.errors.find("Pelorus: the settings given were not stored.\n"), std::string::npos);
    EXPECT_EQ(settingFiles(first.home()), before);

    second = runPelorus({"--headless", "--port", "65536"}, first.home());
    EXPECT_EQ(second.status, 2) << "a bad option is found before the lock";
    EXPECT_EQ(settingFiles(first.home()), before);
    EXPECT_EQ(first.terminate(SIGTERM), 0);
}

TEST(StartAndEnd, TheStartNoticeFollowsOnlyAStartThatWorked)
{
    TempDir home;
    ScopedEnv config("XDG_CONFIG_HOME", home / "config");
    ScopedEnv temp("TEMP", home / "tmp");
    ScriptedServer holder([](Connection&) {});
    ASSERT_TRUE(MAIL::ProxyConfiguration().setProxyPort(holder.port()));
    {
        MAIL::ProxyService service;
        EXPECT_THROW(service.start([](int) {}), int);
        EXPECT_EQ(service.notice(1), std::nullopt);
        EXPECT_EQ(service.notice(0), std::nullopt);
    }
    const std::uint16_t port = freePort();
    ASSERT_TRUE(MAIL::ProxyConfiguration().setProxyPort(port));
    MAIL::ProxyService service;
    service.start([](int) {});
    EXPECT_EQ(service.notice(1), "Started Pelorus(Local SMTP Proxy)\r\nPortNumber:" + std::to_string(port) +
                                     "\r\n\r\nConnected to the Internet.");
    EXPECT_EQ(service.notice(0), "Not connected to the Internet.");
    service.stop();
}

// The server stops reading in the middle of the data, so the forward hangs
// in its send when SIGTERM comes: after the grace period the session is cut
// and the program ends. (A scripted server: a real one reads on.)
TEST(StartAndEnd, SigtermDuringASlowForwardEndsWithoutA250)
{
    std::signal(SIGPIPE, SIG_IGN);
    constexpr std::size_t Cut = 256 * 1024;
    std::atomic<std::size_t> taken{0};
    std::atomic<bool> testDone{false};
    ScriptedServer server([&](Connection& c) {
        c.send("220 slow.example ESMTP\r\n");
        for (std::string line; !(line = c.readLine(30000)).empty();) {
            if (line.rfind("DATA", 0) != 0) {
                c.send(line.rfind("QUIT", 0) == 0 ? "221 bye\r\n" : "250 ok\r\n");
                continue;
            }
            c.send("354 go ahead\r\n");
            for (std::string piece; taken.load() < Cut && !(piece = c.readSome(30000)).empty();)
                taken += piece.size();
            while (!testDone.load())  // reads nothing more
                ::usleep(10000);
            return;
        }
    });
    struct Release {
        std::atomic<bool>& done;
        ~Release() { done.store(true); }
    } release{testDone};
    const std::uint16_t port = freePort();
    TempDir home;
    trustBob(home);
    ProgramProcess program({serverOptions(server.port(), port), false, false, &home});
    ASSERT_TRUE(program.waitListening(port)) << program.output();

    auto client = connectTo(port);
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->readReply().substr(0, 3), "220");
    client->send("EHLO client.example\r\nMAIL FROM:<ann@corp.example>\r\nRCPT TO:<bob@corp.example>\r\nDATA\r\n");
    for (int reply = 0; reply < 3; ++reply)  // EHLO, MAIL and RCPT
        EXPECT_EQ(client->readReply().substr(0, 3), "250");
    ASSERT_EQ(client->readReply().substr(0, 3), "354");
    // More than the loopback socket buffers hold, so the forward must wait.
    const std::string line(998, 'x');
    std::string body = "Subject: big\r\n\r\n";
    while (body.size() < 32u * 1024 * 1024)
        body += line + "\r\n";
    ASSERT_TRUE(client->send(body + ".\r\n"));
    const auto stuck = [&] { return taken.load() >= Cut; };
    for (int i = 0; i < 600 && !stuck(); ++i)
        ::usleep(100 * 1000);
    ASSERT_TRUE(stuck()) << program.output();

    EXPECT_EQ(program.terminate(SIGTERM, 60000), 0) << program.output();
    std::string rest;
    EXPECT_TRUE(client->waitClosed(10000, &rest));
    EXPECT_EQ(rest.find("250"), std::string::npos) << rest;
    EXPECT_TRUE(listFolder(home / "tmp/pelorus").empty());
}
