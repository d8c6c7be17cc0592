// The real pelorus on Qt's offscreen platform: a signal ends it cleanly,
// with the open confirmation answered Cancel (its client gets the 450); and
// the menu entry passes desktop-file-validate.
#include "ProgramProcess.h"
#include "relay/RelayTestSupport.h"
#include "support/TempDir.h"

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

namespace {

// pelorus with its own folders in home, output (both streams) to a file.
class DesktopProcess {
public:
    // changes: "NAME=value" replaces or adds a variable, "NAME=" drops it.
    DesktopProcess(const TempDir& home, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& changes = {})
        : log_(home / "output.txt")
    {
        std::vector<std::string> env = programEnvironment(home);
        ::chmod((home / "run").c_str(), 0700);
        env.push_back("QT_QPA_PLATFORM=offscreen");
        env.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + (home / "run/no-bus"));
        for (const std::string& change : changes) {
            const std::string name = change.substr(0, change.find('=') + 1);
            std::erase_if(env, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
            if (change.size() > name.size())
                env.push_back(change);
        }
        std::vector<std::string> argv{PELORUS_EXECUTABLE};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        pid_ = ::fork();
        if (pid_ == 0) {
            FILE* out = std::fopen(log_.c_str(), "w");
            if (out != nullptr) {
                ::dup2(fileno(out), 1);
                ::dup2(fileno(out), 2);
            }
            std::vector<char*> args, envp;
            for (auto& a : argv)
                args.push_back(a.data());
            args.push_back(nullptr);
            for (auto& e : env)
                envp.push_back(e.data());
            envp.push_back(nullptr);
            ::execve(args[0], args.data(), envp.data());
            ::_exit(127);
        }
    }
    DesktopProcess(const DesktopProcess&) = delete;
    DesktopProcess& operator=(const DesktopProcess&) = delete;
    ~DesktopProcess()
    {
        if (pid_ > 0 && status_ == -2) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    std::string output() const { return readFile(log_); }
    bool waitForOutput(const std::string& text, int milliseconds = 20000) const
    {
        return waitFor([&] { return output().find(text) != std::string::npos; }, milliseconds);
    }
    // The exit status, or -1 when it did not end (or was killed).
    int waitExit(int milliseconds = 20000)
    {
        int status = 0;
        const bool ended = waitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, milliseconds);
        if (!ended)
            return -1;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return status_;
    }
    void signal(int number) { ::kill(pid_, number); }
    pid_t pid() const { return pid_; }

private:
    template <typename Done>
    static bool waitFor(Done done, int milliseconds)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    std::string log_;
    pid_t pid_ = -1;
    int status_ = -2;
};

std::unique_ptr<Connection> connectWhenListening(std::uint16_t port)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto client = connectTo(port))
            return client;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return nullptr;
}

} // namespace

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
