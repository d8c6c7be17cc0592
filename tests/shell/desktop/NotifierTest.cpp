// The desktop notification sink against a fake notification service on a
// private bus that the test starts and stops: the call's texts, icons and
// urgency per kind, display times, replacement of the previous notice,
// body-markup escaping, and calls from other threads; without a service,
// the tray icon; the notices of held mails with their Undo action; and the
// message boxes.
#include "shell/desktop/DesktopNotifier.h"

#include "relay/HeldMails.h"
#include "relay/SessionText.h"
#include "shell/desktop/HeldMailWatch.h"

#include "HoldingSession.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <thread>

using MAIL::DesktopNotifier;
using pelorus::test::HoldingSession;
using pelorus::test::TempDir;

namespace {

constexpr int Patience = 20000;

// A dbus-daemon of the test's own, with no services to activate.
class PrivateBus {
public:
    PrivateBus()
    {
        const std::string config = dir_ / "bus.conf";
        pelorus::test::writeFile(config, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""
                                         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                         "<busconfig><type>session</type>"
                                         "<listen>unix:dir=" + dir_.path() + "</listen>"
                                         "<auth>EXTERNAL</auth>"
                                         "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                         "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--config-file=") + QString::fromStdString(config), QStringLiteral("--nofork"),
                       QStringLiteral("--print-address")});
        if (!daemon_.waitForStarted(Patience))
            return;
        while (!daemon_.canReadLine() && daemon_.waitForReadyRead(Patience)) {
        }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        for (const QString& name : names_)
            QDBusConnection::disconnectFromBus(name);
        daemon_.terminate();
        if (!daemon_.waitForFinished(Patience))
            daemon_.kill();
        daemon_.waitForFinished(Patience);
    }
    bool isRunning() const { return !address_.isEmpty(); }
    // A new connection to the bus under its own name.
    QDBusConnection connect(const QString& name)
    {
        names_.push_back(name);
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    TempDir dir_;
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

// What the fake service was asked.
struct NotifyCall {
    QString app;
    uint replaces;
    QString icon, summary, body;
    QStringList actions;
    QVariantMap hints;
    int timeout;
};

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit FakeNotifications(QStringList capabilities) : capabilities_(std::move(capabilities)) {}
    std::vector<NotifyCall> calls;

public slots:
    QStringList GetCapabilities() { return capabilities_; }
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int timeout)
    {
        calls.push_back({app, replaces, icon, summary, body, actions, hints, timeout});
        return 100 + static_cast<uint>(calls.size());
    }
    void CloseNotification(uint id) { closed.push_back(id); }

public:
    std::vector<uint> closed;

private:
    QStringList capabilities_;
};

class NotifierTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bus.isRunning()) << "dbus-daemon did not start"; }

    // Offers the fake service with the given capabilities.
    FakeNotifications& offerService(QStringList capabilities)
    {
        fake = std::make_unique<FakeNotifications>(std::move(capabilities));
        server = bus.connect(QStringLiteral("fake-notifications"));
        EXPECT_TRUE(server.registerObject(QStringLiteral("/org/freedesktop/Notifications"), fake.get(),
                                          QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(server.registerService(QStringLiteral("org.freedesktop.Notifications")));
        return *fake;
    }
    DesktopNotifier& notifier()
    {
        if (!notifier_)
            notifier_ = std::make_unique<DesktopNotifier>(bus.connect(QStringLiteral("notifier")));
        return *notifier_;
    }
    bool waitForCalls(std::size_t count)
    {
        return QTest::qWaitFor([&] { return fake->calls.size() >= count; }, Patience);
    }
    // The user clicks an action of a notice.
    void invokeAction(uint id, const QString& action)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                         QStringLiteral("org.freedesktop.Notifications"),
                                                         QStringLiteral("ActionInvoked"));
        signal << id << action;
        ASSERT_TRUE(server.send(signal));
    }

    PrivateBus bus;
    QDBusConnection server{QStringLiteral("none")};
    std::unique_ptr<FakeNotifications> fake;
    std::unique_ptr<DesktopNotifier> notifier_;
};

struct Kind {
    const char* name;
    std::function<void()> send;
    const char* icon;
    int urgency;
    bool transient;
    int timeout;
};

void PrintTo(const Kind& kind, std::ostream* os) { *os << kind.name; }

const Kind Kinds[] = {
    {"Information", [] { MAIL::showInfoBalloon("Connected to the Internet."); }, "dialog-information", 0, true, 6000},
    {"Warning", [] { MAIL::showWarningBalloon("Connected to the Internet."); }, "dialog-warning", 1, false, 3000},
    {"Error", [] { MAIL::showErrorBalloon("Connected to the Internet."); }, "dialog-error", 1, false, 3000},
    {"Timed", [] { MAIL::showTimedBalloon("Connected to the Internet.", 3); }, "dialog-information", 0, true, 3000},
};

class NotifierKind : public NotifierTest, public testing::WithParamInterface<Kind> {};

TEST_P(NotifierKind, CallsNotifyWithItsIconUrgencyAndTime)
{
    const Kind& kind = GetParam();
    offerService({QStringLiteral("body")});
    notifier();
    kind.send();
    ASSERT_TRUE(waitForCalls(1));
    const NotifyCall& call = fake->calls[0];
    EXPECT_EQ(call.app, "Pelorus");
    EXPECT_EQ(call.summary, "Pelorus");
    EXPECT_EQ(call.body, "Connected to the Internet.");
    EXPECT_EQ(call.replaces, 0u);
    EXPECT_EQ(call.icon, kind.icon);
    EXPECT_TRUE(call.actions.isEmpty());
    EXPECT_EQ(call.timeout, kind.timeout);
    ASSERT_TRUE(call.hints.contains("urgency"));
    EXPECT_EQ(call.hints.value("urgency").toInt(), kind.urgency);
    EXPECT_EQ(call.hints.value("urgency").metaType().id(), QMetaType::UChar);  // a D-Bus byte
    EXPECT_EQ(call.hints.contains("transient"), kind.transient);
    if (kind.transient) {
        EXPECT_TRUE(call.hints.value("transient").toBool());
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, NotifierKind, testing::ValuesIn(Kinds),
                         [](const auto& info) { return std::string(info.param.name); });

struct Markup {
    const char* name;
    QStringList capabilities;
    const char* body;
};

void PrintTo(const Markup& markup, std::ostream* os) { *os << markup.name; }

class NotifierMarkup : public NotifierTest, public testing::WithParamInterface<Markup> {};

TEST_P(NotifierMarkup, EscapesOnlyWhenTheServerReadsMarkup)
{
    offerService(GetParam().capabilities);
    notifier();
    MAIL::showWarningBalloon("Cancelled a mail:\r\n'<b>Tom & Jerry</b> > 2'");
    ASSERT_TRUE(waitForCalls(1));
    EXPECT_EQ(fake->calls[0].body.toStdString(), GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(
    Capabilities, NotifierMarkup,
    testing::Values(Markup{"BodyMarkup", {"body", "body-markup"}, "Cancelled a mail:\n'&lt;b&gt;Tom &amp; Jerry&lt;/b&gt; &gt; 2'"},
                    Markup{"PlainBody", {"body"}, "Cancelled a mail:\n'<b>Tom & Jerry</b> > 2'"}),
    [](const auto& info) { return std::string(info.param.name); });

// A subject from the mail holds CR LF and a right-to-left override: the
// notice keeps its own line break only.
TEST_F(NotifierTest, ASubjectCannotAddALineOrReorderTheNotice)
{
    offerService({QStringLiteral("body")});
    notifier();
    MAIL::showTimedBalloon(
        MAIL::subjectNotice("Sent a mail:", MAIL::balloonSubject("a\r\nSent a mail:\r\n'\xE2\x80\xAE" "fdp.exe", 210)),
        3);
    ASSERT_TRUE(waitForCalls(1));
    EXPECT_EQ(fake->calls[0].body.toStdString(), "Sent a mail:\n'a\\x0D\\x0ASent a mail:\\x0D\\x0A'\\u{202E}fdp.exe'");
}

TEST_F(NotifierTest, EachNoticeReplacesThePreviousOneInOrder)
{
    offerService({QStringLiteral("body")});
    notifier();
    MAIL::showTimedBalloon("Sending a mail:\r\n'figures'", 10);
    MAIL::showTimedBalloon("Sending a mail:\r\n'figures'\r\n\r\nSent: 50(%) of Total=256KB", 10);
    MAIL::showTimedBalloon("Sent a mail:\r\n'figures'", 3);
    ASSERT_TRUE(waitForCalls(3));
    EXPECT_EQ(fake->calls[0].replaces, 0u);
    EXPECT_EQ(fake->calls[1].replaces, 101u);
    EXPECT_EQ(fake->calls[2].replaces, 102u);
    EXPECT_EQ(fake->calls[2].body, "Sent a mail:\n'figures'");
    EXPECT_EQ(fake->calls[2].timeout, 3000);
}

TEST_F(NotifierTest, NoticesFromOtherThreadsArriveWhole)
{
    offerService({QStringLiteral("body")});
    notifier();
    constexpr int PerThread = 5;
    std::vector<std::thread> sessions;
    for (int t = 0; t < 3; ++t)
        sessions.emplace_back([t] {
            for (int i = 0; i < PerThread; ++i)
                MAIL::showErrorBalloon("session " + std::to_string(t) + " notice " + std::to_string(i));
        });
    for (auto& session : sessions)
        session.join();
    ASSERT_TRUE(waitForCalls(3 * PerThread));
    std::set<QString> bodies;
    for (std::size_t i = 0; i < fake->calls.size(); ++i) {
        bodies.insert(fake->calls[i].body);
        EXPECT_EQ(fake->calls[i].replaces, i == 0 ? 0u : 100u + static_cast<uint>(i));
    }
    EXPECT_EQ(bodies.size(), 3u * PerThread);
    EXPECT_EQ(bodies.count("session 2 notice 4"), 1u);
}

TEST_F(NotifierTest, WithoutServiceTheTrayIconShowsIt)
{
    QSystemTrayIcon tray;
    notifier().setTrayIcon(&tray);
    QSignalSpy shown(&notifier(), &DesktopNotifier::shownOnTrayIcon);
    MAIL::showErrorBalloon("SMTP Server is NOT ready.\r\nTry again.");
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.count() >= 1; }, Patience));
    EXPECT_EQ(shown[0][0].toString(), "Pelorus");
    EXPECT_EQ(shown[0][1].toString(), "SMTP Server is NOT ready.\nTry again.");
}

TEST_F(NotifierTest, ServiceThatAppearsLaterIsUsed)
{
    QSystemTrayIcon tray;
    notifier().setTrayIcon(&tray);
    QSignalSpy shown(&notifier(), &DesktopNotifier::shownOnTrayIcon);
    MAIL::showInfoBalloon("first");
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.count() >= 1; }, Patience));
    offerService({QStringLiteral("body")});
    MAIL::showInfoBalloon("second");
    ASSERT_TRUE(waitForCalls(1));
    EXPECT_EQ(fake->calls[0].body, "second");
    EXPECT_EQ(shown.count(), 1);
}

TEST_F(NotifierTest, DestroyedNotifierNoLongerReceives)
{
    offerService({QStringLiteral("body")});
    notifier();
    MAIL::showInfoBalloon("while it lives");
    ASSERT_TRUE(waitForCalls(1));
    notifier_.reset();
    MAIL::showInfoBalloon("after it is gone");  // the default sink: standard error
    // A new notifier starts afresh: nothing of the old one's reaches the bus.
    notifier_ = std::make_unique<DesktopNotifier>(bus.connect(QStringLiteral("second-notifier")));
    MAIL::showInfoBalloon("with the next one");
    ASSERT_TRUE(waitForCalls(2));
    ASSERT_EQ(fake->calls.size(), 2u);
    EXPECT_EQ(fake->calls[1].body, "with the next one");
    EXPECT_EQ(fake->calls[1].replaces, 0u);
}

// The notifier as the program wires it to the held mails.
class NotifierHoldTest : public NotifierTest {
protected:
    void SetUp() override
    {
        NotifierTest::SetUp();
        QObject::connect(&watch, &MAIL::HeldMailWatch::began, &notifier(), &DesktopNotifier::showHold);
        QObject::connect(&watch, &MAIL::HeldMailWatch::ended, &notifier(), &DesktopNotifier::endHold);
    }
    // Requests go one at a time: once a balloon sent now has reached the
    // service, the notifier has heard the answers to all before it.
    bool settle()
    {
        MAIL::showInfoBalloon("settled");
        return waitForCalls(fake->calls.size() + 1);
    }
    bool waitForClosed(std::size_t count)
    {
        return QTest::qWaitFor([&] { return fake->closed.size() >= count; }, Patience);
    }
    MAIL::HeldMailWatch watch;
};

struct HoldCase {
    const char* name;
    QStringList capabilities;
    QStringList actions;
};

void PrintTo(const HoldCase& c, std::ostream* os) { *os << c.name; }

class NotifierHold : public NotifierHoldTest, public testing::WithParamInterface<HoldCase> {};

// A notice of its own for the whole hold, outside the replacing chain, and
// closed when the hold ends.
TEST_P(NotifierHold, AHeldMailHasANoticeOfItsOwnUntilTheHoldEnds)
{
    offerService(GetParam().capabilities);
    MAIL::showInfoBalloon("Connected to the Internet.");
    ASSERT_TRUE(waitForCalls(1));
    HoldingSession held("Q3 <figures>\r\nSent a mail:", 15);
    ASSERT_TRUE(waitForCalls(2));
    const NotifyCall& call = fake->calls[1];
    EXPECT_EQ(call.app, "Pelorus");
    EXPECT_EQ(call.summary, "Pelorus");
    EXPECT_EQ(call.body, "Sending in 15 seconds:\n'Q3 <figures>\\x0D\\x0ASent a mail:'");
    EXPECT_EQ(call.actions, GetParam().actions);
    EXPECT_EQ(call.replaces, 0u);
    EXPECT_FALSE(call.hints.contains("transient"));
    EXPECT_EQ(call.timeout, 15000);

    // Balloons go on replacing each other, never the held mail's notice.
    MAIL::showTimedBalloon("Sending a mail:\r\n'other'", 10);
    MAIL::showTimedBalloon("Sent a mail:\r\n'other'", 3);
    ASSERT_TRUE(waitForCalls(4));
    EXPECT_EQ(fake->calls[2].replaces, 101u);
    EXPECT_EQ(fake->calls[3].replaces, 103u);

    held.release();
    ASSERT_TRUE(waitForClosed(1));
    EXPECT_EQ(fake->closed, (std::vector<uint>{102u}));
}

INSTANTIATE_TEST_SUITE_P(
    Capabilities, NotifierHold,
    testing::Values(HoldCase{"WithActions", {"body", "actions"}, {"undo", "Undo"}},
                    HoldCase{"WithoutActions", {"body"}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Two held mails: each notice's Undo undoes its own mail only, and only
// the "undo" action of one of our notices undoes anything.
TEST_F(NotifierHoldTest, UndoFromANoticeUndoesOnlyItsMail)
{
    offerService({QStringLiteral("body"), QStringLiteral("actions")});
    HoldingSession first("first"), second("second");
    ASSERT_TRUE(waitForCalls(2) && settle());
    ASSERT_EQ(fake->calls[1].body, "Sending in 10 seconds:\n'second'");
    invokeAction(999, QStringLiteral("undo"));      // another program's notice
    invokeAction(102, QStringLiteral("default"));   // a click on the notice itself
    invokeAction(102, QStringLiteral("undo"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return second.token.isCancelled(); }, Patience));
    EXPECT_FALSE(first.token.isCancelled());
    invokeAction(101, QStringLiteral("undo"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.token.isCancelled(); }, Patience));
    second.release();
    first.release();
    ASSERT_TRUE(waitForClosed(2));
    EXPECT_EQ(fake->closed, (std::vector<uint>{102u, 101u}));
}

// At the end of the program its held mails are undone: their notices go.
TEST_F(NotifierHoldTest, TheNoticesOfHeldMailsCloseWithTheNotifier)
{
    offerService({QStringLiteral("body"), QStringLiteral("actions")});
    HoldingSession held("figures");
    ASSERT_TRUE(waitForCalls(1) && settle());
    notifier_.reset();
    ASSERT_TRUE(waitForClosed(1));
    EXPECT_EQ(fake->closed, (std::vector<uint>{101u}));
}

// Without a service the held mail has no notice (the menus' entries
// stand in); the balloons still reach the tray icon.
TEST_F(NotifierHoldTest, WithoutServiceOnlyTheBalloonsReachTheTrayIcon)
{
    QSystemTrayIcon tray;
    notifier().setTrayIcon(&tray);
    QSignalSpy shown(&notifier(), &DesktopNotifier::shownOnTrayIcon);
    HoldingSession("figures", 5).release();
    MAIL::showErrorBalloon("SMTP Server is NOT ready.");
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.count() >= 1; }, Patience));
    EXPECT_EQ(shown.count(), 1);
    EXPECT_EQ(shown[0][1].toString(), "SMTP Server is NOT ready.");
}

TEST(NotifierWithoutBus, FallsBackToTheTrayIcon)
{
    // The suite's session bus address leads nowhere.
    DesktopNotifier notifier;
    QSystemTrayIcon tray;
    notifier.setTrayIcon(&tray);
    QSignalSpy shown(&notifier, &DesktopNotifier::shownOnTrayIcon);
    MAIL::showWarningBalloon("Cancelled a mail:\r\n'x'");
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.count() >= 1; }, Patience));
    EXPECT_EQ(shown[0][1].toString(), "Cancelled a mail:\n'x'");
}

TEST(NotifierMessageBox, IsShownWithoutBlockingAndAsPlainText)
{
    DesktopNotifier notifier;
    std::thread session([] { MAIL::showMessageBox("Pelorus", "Failed: <b>x</b><img src=x>", MAIL::NoticeKind::Error); });
    session.join();  // returned without anyone answering the box
    QMessageBox* box = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* found = qobject_cast<QMessageBox*>(widget); found != nullptr && found->isVisible())
                    box = found;
            return box != nullptr;
        },
        Patience));
    EXPECT_EQ(box->windowTitle(), "Pelorus");
    EXPECT_EQ(box->text(), "Failed: <b>x</b><img src=x>");
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_FALSE(box->isModal());
    QPointer<QMessageBox> alive = box;
    box->close();  // deletes itself
    EXPECT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }, Patience));
}

} // namespace

int main(int argc, char** argv)
{
    // ctest lists the tests without the suite's environment: never a display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "NotifierTest.moc"
