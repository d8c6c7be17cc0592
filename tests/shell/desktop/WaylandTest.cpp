// Wayland without X: which platform the shell starts on, or why it runs in
// the terminal; the confirmation window on the compositor, answered; and the
// real pelorus mapping its windows on weston.
#include "DesktopProcess.h"
#include "TrayTestSupport.h"
#include "ProgramProcess.h"
#include "WestonTestSupport.h"
#include "relay/AddressConfirmationDialog.h"
#include "shell/desktop/DesktopConfirmationPresenter.h"
#include "shell/desktop/DisplayChoice.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <future>
#include <optional>

#include <sys/socket.h>
#include <sys/un.h>

using namespace pelorus::test;

namespace {

const std::string Live = HeadlessWeston::SocketName;

std::string waylandRefusal(const std::string& name)
{
    return "Pelorus: the Wayland display " + name +
           " does not answer, or qt6-wayland is missing; running in this terminal.";
}

struct Environment {
    const char* name;
    std::optional<std::string> display, wayland, platform;
    std::optional<std::string> refusal;  // nothing: the desktop starts
};

void PrintTo(const Environment& e, std::ostream* out) { *out << e.name; }

const std::string DeadX = "Pelorus: the X display :87 does not answer; running in this terminal.";

const Environment Environments[] = {
    {"Nothing", {}, {}, {},
     "Pelorus: no display found (neither WAYLAND_DISPLAY nor DISPLAY is set); running in this terminal."},
    {"WaylandOnly", {}, Live, {}, std::nullopt},
    {"DeadWaylandOnly", {}, "no-such-display", {}, waylandRefusal("no-such-display")},
    {"BothSetKeepsX", ":87", Live, {}, DeadX},
    {"UserWaylandWinsOverX", ":87", Live, "wayland", std::nullopt},
    {"UserWaylandDead", {}, "gone", "wayland", waylandRefusal("gone")},
    {"UserListFallsThrough", {}, "gone", "wayland;offscreen", std::nullopt},
    {"UserOffscreen", ":87", {}, "offscreen", std::nullopt},
    {"UserXcbDead", ":87", Live, "xcb", DeadX},
    {"UserPlatformNotInstalled", {}, Live, "nosuch",
     "Pelorus: the Qt platform nosuch named by QT_QPA_PLATFORM cannot start here; running in this terminal."},
};

class DisplayChoice : public testing::TestWithParam<Environment> {};

TEST_P(DisplayChoice, StartsTheDesktopOrSaysWhyNot)
{
    const Environment& e = GetParam();
    ScopedEnv display("DISPLAY", e.display);
    ScopedEnv wayland("WAYLAND_DISPLAY", e.wayland);
    ScopedEnv platform("QT_QPA_PLATFORM", e.platform);
    EXPECT_EQ(MAIL::desktopRefusal(), e.refusal);
}

INSTANTIATE_TEST_SUITE_P(Environments, DisplayChoice, testing::ValuesIn(Environments),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DisplayChoicePlugins, FindsInstalledPlatformsByKeyInAnyCase)
{
    EXPECT_TRUE(MAIL::platformPluginInstalled(QStringLiteral("wayland")));
    EXPECT_TRUE(MAIL::platformPluginInstalled(QStringLiteral("OFFSCREEN")));
    EXPECT_FALSE(MAIL::platformPluginInstalled(QStringLiteral("nosuch")));
    EXPECT_FALSE(MAIL::platformPluginInstalled(QString()));
}

// Through the real proxy, with the window on the compositor: OK and Cancel
// reach the client as on X, and the notice names the waiting mail by its
// subject, escaped (an encoded word smuggles a line break into it).
struct Answer {
    const char* name;
    const char* button;  // object name of the button pressed
    bool sent;
};

void PrintTo(const Answer& a, std::ostream* out) { *out << a.name; }

class WaylandConfirmation : public testing::TestWithParam<Answer> {};

// One mail through the proxy port by swaks, on its own thread.
std::future<ProgramResult> sendWithSwaks(std::uint16_t port, const std::string& subject)
{
    return std::async(std::launch::async, [port, subject] {
        return runProgram({"swaks", "--server", "127.0.0.1:" + std::to_string(port), "--from", "ann@corp.example",
                           "--to", "eve@elsewhere.example", "--header", "Subject: " + subject});
    });
}

TEST_P(WaylandConfirmation, IsMappedAnnouncedAndAnswered)
{
    SmtpSink sink;
    ProxyRunner proxy(sink.port());
    auto presenter = std::make_shared<MAIL::DesktopConfirmationPresenter>(MAIL::ConfirmationWindow::Clock::Manual);
    MAIL::setConfirmationPresenter(presenter);
    std::future<ProgramResult> client = sendWithSwaks(proxy.port(), "=?utf-8?q?figures=0D=0ASent=3A_ok?=");
    MAIL::ConfirmationWindow* window = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (window = presenter->openWindow()) != nullptr; }, 30000));
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window, 30000));
    EXPECT_EQ(QGuiApplication::platformName(), "wayland");
    EXPECT_TRUE(proxy.notices().hasBalloonContaining("Recipients Confirmation - Pelorus\r\nfigures\\x0D\\x0ASent: ok"));
    window->findChild<QCheckBox*>("1019")->click();
    window->findChild<QPushButton*>(GetParam().button)->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return client.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 90000));
    const ProgramResult sent = client.get();
    EXPECT_EQ(sent.status == 0, GetParam().sent) << sent.output;
    EXPECT_EQ(sent.output.find("450 Pelorus action has been cancelled.") == std::string::npos, GetParam().sent);
    EXPECT_TRUE(proxy.waitIdle());
    EXPECT_EQ(sink.mails().size(), GetParam().sent ? 1u : 0u);
    MAIL::setConfirmationPresenter(nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

INSTANTIATE_TEST_SUITE_P(Answers, WaylandConfirmation,
                         testing::Values(Answer{"Ok", "1", true}, Answer{"Cancel", "2", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The changes that leave pelorus only the Wayland session of this test.
std::vector<std::string> waylandOnly(const std::string& display)
{
    return {"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY=" + display,
            "XDG_RUNTIME_DIR=" + std::string(std::getenv("XDG_RUNTIME_DIR"))};
}

TEST(WaylandProgram, MapsItsWindowAndTheConfirmationOnAWaylandOnlySession)
{
    TempDir home;
    SmtpSink sink;
    const std::uint16_t proxyPort = freePort();
    DesktopProcess program(home, {"--server", "127.0.0.1", "--port", std::to_string(sink.port()), "--proxy-port",
                                  std::to_string(proxyPort)},
                           waylandOnly(Live));
    const auto shows = [&](const char* title) {
        return pollUntil([&] { return showsWindow(westonSceneGraph(), program.pid(), title); }, 60000);
    };
    // Weston has no tray: after its wait the main window stands in for it.
    ASSERT_TRUE(shows("Pelorus")) << program.output() << westonSceneGraph();
    std::future<ProgramResult> client = sendWithSwaks(proxyPort, "figures");
    EXPECT_TRUE(shows("Recipients Confirmation - Pelorus")) << westonSceneGraph();
    program.signal(SIGTERM);
    EXPECT_NE(client.get().output.find("450 Pelorus action has been cancelled."), std::string::npos);
    EXPECT_EQ(program.waitExit(), 0) << program.output();
    EXPECT_TRUE(sink.mails().empty());
}

// Where a StatusNotifierItem host exists, the icon goes there.
TEST(WaylandProgram, RegistersItsTrayIconWhereAHostExists)
{
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    FakeTrayWatcher watcher(bus.address());
    ASSERT_TRUE(watcher.registered());
    TempDir home;
    std::vector<std::string> changes = waylandOnly(Live);
    changes.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus.address().toStdString());
    DesktopProcess program(home, {"--server", "127.0.0.1", "--port", "25", "--proxy-port", std::to_string(freePort())},
                           changes);
    ASSERT_TRUE(spinUntil([&] { return watcher.pids().contains(static_cast<qint64>(program.pid())); }, 30000))
        << program.output();
    program.signal(SIGTERM);
    EXPECT_EQ(program.waitExit(), 0) << program.output();
}

// A name nobody serves, and a socket file left by a compositor that ended.
TEST(WaylandProgram, ADisplayThatDoesNotAnswerMeansTheTerminal)
{
    const std::string stale = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/stale-0";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", stale.c_str());
    const int left = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(left, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(left);  // bound, never listened on, closed: connecting is refused

    TempDir home;
    ScriptedServer holder([](Connection&) {});
    for (const std::string display : {"no-such-display", "stale-0"}) {
        const QuickResult r = runPelorus({"--server", "127.0.0.1", "--port", "25", "--proxy-port",
                                          std::to_string(holder.port())},
                                         home, waylandOnly(display));
        EXPECT_EQ(r.status, 35) << display << r.errors;  // terminal mode, up to its taken port
        EXPECT_NE(r.errors.find(waylandRefusal(display)), std::string::npos) << r.errors;
    }
    ::unlink(stale.c_str());
}

} // namespace
