// The real pelorus on Qt's offscreen platform: a signal ends it cleanly,
// with the open confirmation answered Cancel (its client gets the 450); and
// the menu entry passes desktop-file-validate.
#include "ProgramProcess.h"
#include "relay/RelayTestSupport.h"
#include "support/TempDir.h"

#include "DesktopProcess.h"
#include "TrayTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pelorus::test;

TEST(DesktopProgram, SignalCancelsTheOpenConfirmationAndEndsCleanly)
{
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        TempDir home;
        std::filesystem::create_directories(home / "config/Pelorus");
        // Debug lines on standard output tell when the confirmation is asked.
        writeFile(home / "config/Pelorus/settings.reg",
                  "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Corvane\\Application\\Pelorus\\Log]\n"
                  "\"Level\"=dword:00000002\n\"Console\"=\"true\"\n");
        SmtpSink sink;
        const std::uint16_t proxyPort = freePort();
        DesktopProcess program(home, {"--server", "127.0.0.1", "--port", std::to_string(sink.port()),
                                      "--proxy-port", std::to_string(proxyPort)});
        auto client = connectWhenListening(proxyPort);
        ASSERT_NE(client, nullptr) << program.output();
        EXPECT_EQ(client->readReply().substr(0, 3), "220");
        client->send("EHLO client.example\r\n");
        EXPECT_EQ(client->readReply().substr(0, 3), "250");
        client->send("MAIL FROM:<ann@corp.example>\r\n");
        EXPECT_EQ(client->readReply().substr(0, 3), "250");
        client->send("RCPT TO:<eve@elsewhere.example>\r\n");
        EXPECT_EQ(client->readReply().substr(0, 3), "250");
        client->send("DATA\r\n");
        EXPECT_EQ(client->readReply().substr(0, 3), "354");
        client->send("Subject: figures\r\nTo: eve@elsewhere.example\r\n\r\nHello\r\n.\r\n");
        ASSERT_TRUE(program.waitForOutput("DialogProc,1,INITDIALOG")) << program.output();

        program.signal(signal);
        EXPECT_EQ(client->readReply(20000), "450 Pelorus action has been cancelled.\r\n");
        EXPECT_EQ(program.waitExit(), 0) << program.output();
        EXPECT_TRUE(sink.mails().empty());
    }
}

TEST(DesktopProgram, AListenerThatCannotStartIsReportedAndEndsTheProgram)
{
    TempDir home;
    ScriptedServer taken([](Connection&) {});  // holds the proxy port
    DesktopProcess program(home, {"--server", "127.0.0.1", "--port", "25", "--proxy-port",
                                  std::to_string(taken.port())});
    // The box waits for the user; its text also goes to standard error.
    ASSERT_TRUE(program.waitForOutput("Exception happend. Error=")) << program.output();
    program.signal(SIGTERM);
    const int status = program.waitExit();
    EXPECT_NE(status, 0);
    EXPECT_NE(status, -1) << program.output();
}

TEST(DesktopProgram, MenuEntryPassesDesktopFileValidate)
{
    const std::string command = std::string("desktop-file-validate '") + PELORUS_DESKTOP_FILE + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string printed;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        printed += buffer;
    EXPECT_EQ(::pclose(pipe), 0) << printed;
    EXPECT_EQ(printed, "");
}

// On X11 Qt draws the icon as a StatusNotifierItem: it registers with the
// watcher, and again with a watcher that was restarted.
TEST(DesktopProgram, RegistersItsTrayIconWithTheWatcherAndAgainAfterARestart)
{
    VirtualDisplay display;
    ASSERT_FALSE(display.display().empty()) << "Xvfb did not start";
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    auto watcher = std::make_unique<FakeTrayWatcher>(bus.address());
    ASSERT_TRUE(watcher->registered());

    TempDir home;
    const std::uint16_t proxyPort = freePort();
    DesktopProcess program(home, {"--server", "127.0.0.1", "--port", "25", "--proxy-port", std::to_string(proxyPort)},
                           {"QT_QPA_PLATFORM=", "DISPLAY=" + display.display(),
                            "DBUS_SESSION_BUS_ADDRESS=" + bus.address().toStdString()});
    const auto registered = [&] { return watcher->pids().contains(static_cast<qint64>(program.pid())); };
    ASSERT_TRUE(spinUntil(registered, 30000)) << program.output();
    EXPECT_EQ(watcher->items().size(), 1);

    watcher.reset();
    spinUntil([] { return false; }, 200);  // the panel is away for a moment
    watcher = std::make_unique<FakeTrayWatcher>(bus.address());
    ASSERT_TRUE(watcher->registered());
    ASSERT_TRUE(spinUntil(registered, 30000)) << program.output();

    program.signal(SIGTERM);
    int status = -1;
    spinUntil([&] { return (status = program.waitExit(0)) != -1; }, 20000);
    EXPECT_EQ(status, 0) << program.output();
}
