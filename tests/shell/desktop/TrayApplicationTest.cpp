// The main window, its tray icon and menus, the commands, and the wait for
// a tray: with Qt's verdict given directly, and with a fake
// StatusNotifierWatcher on a private bus; the Undo entries of held mails.
#include "shell/desktop/TrayApplication.h"
#include "shell/desktop/HeldMailWatch.h"
#include "shell/desktop/VersionDialog.h"

#include "HoldingSession.h"
#include "TrayTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using MAIL::TrayApplication;
using MAIL::TrayCommands;
using MAIL::TrayWaitOptions;
using pelorus::test::FakeTrayWatcher;
using pelorus::test::HoldingSession;
using pelorus::test::PrivateBus;
using pelorus::test::spinUntil;
using State = MAIL::TrayApplication::TrayState;

namespace {

// The visible entries of a menu: "text #id", "---" for a separator.
std::vector<std::string> entries(const QMenu* menu)
{
    std::vector<std::string> shown;
    for (const QAction* action : menu->actions()) {
        if (!action->isVisible())
            continue;
        shown.push_back(action->isSeparator() ? std::string("---")
                                              : (action->text() + " #" + action->objectName()).toStdString());
    }
    return shown;
}

QMenu* menuBarMenu(TrayApplication& app, int index)
{
    const QList<QAction*> menus = app.menuBar()->actions();
    return index < menus.size() ? menus[index]->menu() : nullptr;
}

QAction* action(QMenu* menu, const char* id)
{
    for (QAction* a : menu->actions())
        if (a->objectName() == QLatin1String(id))
            return a;
    return nullptr;
}

// The wait without a bus, with Qt's verdict set by the test.
struct Tray {
    bool available = false;
    int properties = 0, filters = 0, exits = 0;
    std::vector<QUrl> opened;
    std::unique_ptr<TrayApplication> app;

    explicit Tray(bool trayAtStart = false, QDBusConnection bus = QDBusConnection(QStringLiteral("no-bus")))
        : available(trayAtStart)
    {
        TrayCommands commands;
        commands.properties = [this] { ++properties; };
        commands.filters = [this] { ++filters; };
        commands.exit = [this] { ++exits; };
        commands.openUrl = [this](const QUrl& url) {
            opened.push_back(url);
            return true;
        };
        TrayWaitOptions wait;
        wait.pollByTimer = false;
        wait.bus = bus;
        wait.qtTray = [this] { return available; };
        app = std::make_unique<TrayApplication>(std::move(commands), std::move(wait));
        app->start();
    }
    // Looks count times, one interval each.
    void poll(int count)
    {
        for (int i = 0; i < count; ++i)
            app->pollTray();
    }
};

} // namespace

TEST(TrayApplication, MainWindowMenuHasFileAndHelpWithTheirCommands)
{
    Tray tray(true);
    TrayApplication& app = *tray.app;
    EXPECT_EQ(app.windowTitle().toStdString(), "Pelorus");
    EXPECT_EQ(app.size(), QSize(500, 300));
    ASSERT_EQ(app.menuBar()->actions().size(), 2);
    EXPECT_EQ(app.menuBar()->actions()[0]->text().toStdString(), "File(&F)");
    EXPECT_EQ(app.menuBar()->actions()[1]->text().toStdString(), "Help(&H)");
    EXPECT_EQ(entries(menuBarMenu(app, 0)), (std::vector<std::string>{"Properties(&P) #32777", "Exit(&X) #105"}));
    EXPECT_EQ(entries(menuBarMenu(app, 1)), (std::vector<std::string>{"Version(&A)... #104"}));
    const QList<QKeySequence> keys = action(menuBarMenu(app, 1), "104")->shortcuts();
    EXPECT_TRUE(keys.contains(QKeySequence(Qt::ALT | Qt::Key_Question)));
    EXPECT_TRUE(keys.contains(QKeySequence(Qt::ALT | Qt::Key_Slash)));
}

TEST(TrayApplication, TrayMenuHasItsSevenEntriesInOrder)
{
    Tray tray(true);
    ASSERT_NE(tray.app->trayIcon(), nullptr);
    EXPECT_EQ(tray.app->trayIcon()->contextMenu(), tray.app->trayMenu());
    EXPECT_EQ(tray.app->trayIcon()->toolTip().toStdString(), "Pelorus");
    EXPECT_FALSE(tray.app->trayIcon()->icon().isNull());
    EXPECT_EQ(entries(tray.app->trayMenu()),
              (std::vector<std::string>{"Pelorus Properties(&P) #32777", "Pelorus Filters(&F) #32786",
                                        "Pelorus Help(&H) #32783", "---", "Pelorus Version(&V) #32781", "---",
                                        "Exit(&X) #32778"}));
}

TEST(TrayApplication, MenuEntriesRunTheirCommands)
{
    Tray tray(true);
    QMenu* menu = tray.app->trayMenu();
    action(menu, "32777")->trigger();
    action(menuBarMenu(*tray.app, 0), "32777")->trigger();
    action(menu, "32786")->trigger();
    action(menu, "32778")->trigger();
    action(menuBarMenu(*tray.app, 0), "105")->trigger();
    EXPECT_EQ(tray.properties, 2);
    EXPECT_EQ(tray.filters, 1);
    EXPECT_EQ(tray.exits, 2);

    action(menu, "32783")->trigger();
    ASSERT_EQ(tray.opened.size(), 1u);
    EXPECT_TRUE(tray.opened[0].isLocalFile());
    EXPECT_EQ(QFileInfo(tray.opened[0].toLocalFile()).fileName().toStdString(), "Pelorus.html");
    EXPECT_TRUE(QFileInfo::exists(tray.opened[0].toLocalFile()));
}

TEST(TrayApplication, VersionDialogOpensOnceFromEitherMenu)
{
    Tray tray(true);
    QMenu* menu = tray.app->trayMenu();
    action(menu, "32781")->trigger();
    MAIL::VersionDialog* dialog = tray.app->versionDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle().toStdString(), "Version Information - Pelorus");
    std::vector<std::string> texts;
    for (const QLabel* label : dialog->findChildren<QLabel*>())
        if (!label->text().isEmpty())
            texts.push_back(label->text().toStdString());
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Pelorus Version 1.0.0.9");
    EXPECT_NE(texts[1].find('\n'), std::string::npos);  // two lines

    // Asked again (tray: with a beep, main menu: without), it stays the one.
    action(menu, "32781")->trigger();
    action(menuBarMenu(*tray.app, 1), "104")->trigger();
    EXPECT_EQ(tray.app->findChildren<MAIL::VersionDialog*>().size(), 1);

    // OK ends it; the next Version opens a new one.
    dialog->findChild<QPushButton*>(QStringLiteral("1"))->click();
    ASSERT_TRUE(spinUntil([&] { return tray.app->versionDialog() == nullptr; }));
    action(menuBarMenu(*tray.app, 1), "104")->trigger();
    EXPECT_NE(tray.app->versionDialog(), nullptr);
}

TEST(TrayApplication, AltQuestionMarkAndAltSlashOpenTheVersionDialog)
{
    for (const Qt::Key key : {Qt::Key_Slash, Qt::Key_Question}) {
        Tray tray(true);
        tray.app->showWindow();
        QApplication::setActiveWindow(tray.app.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(tray.app.get()));
        QTest::keyClick(tray.app.get(), key, Qt::AltModifier);
        EXPECT_NE(tray.app->versionDialog(), nullptr) << key;
    }
}

TEST(TrayApplication, ALeftClickOrADoubleClickPopsUpTheTrayMenu)
{
    for (const auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}) {
        Tray tray(true);
        ASSERT_NE(tray.app->trayIcon(), nullptr);
        emit tray.app->trayIcon()->activated(reason);
        EXPECT_TRUE(tray.app->trayMenu()->isVisible()) << reason;
        tray.app->trayMenu()->hide();
    }
    // The right button is the context menu's, shown by the tray itself.
    Tray tray(true);
    emit tray.app->trayIcon()->activated(QSystemTrayIcon::Context);
    EXPECT_FALSE(tray.app->trayMenu()->isVisible());
}

TEST(TrayApplication, ClosingOrMinimisingOnlyHidesTheWindow)
{
    Tray tray(true);
    TrayApplication& app = *tray.app;
    app.showWindow();
    ASSERT_TRUE(app.isVisible());
    EXPECT_FALSE(app.close());
    EXPECT_FALSE(app.isVisible());

    app.showWindow();
    app.showMinimized();
    EXPECT_TRUE(spinUntil([&] { return !app.isVisible(); }));
    EXPECT_EQ(tray.exits, 0);

    // Once the program ends, the window may close.
    app.showWindow();
    app.allowClose();
    EXPECT_TRUE(app.close());
}

TEST(TrayApplication, WithoutATrayTheWindowStandsInAfterTheWait)
{
    Tray tray;
    TrayApplication& app = *tray.app;
    EXPECT_EQ(app.trayState(), State::Waiting);
    tray.poll(19);  // 9.5 s of the 10
    EXPECT_EQ(app.trayState(), State::Waiting);
    EXPECT_FALSE(app.isVisible());
    tray.poll(1);
    EXPECT_EQ(app.trayState(), State::Fallback);
    EXPECT_TRUE(app.isVisible());
    EXPECT_EQ(app.trayIcon(), nullptr);
    EXPECT_EQ(entries(menuBarMenu(app, 0)), (std::vector<std::string>{"Properties(&P) #32777",
                                                                       "Pelorus Filters(&F) #32786", "Exit(&X) #105"}));
    EXPECT_EQ(entries(menuBarMenu(app, 1)),
              (std::vector<std::string>{"Pelorus Help(&H) #32783", "Version(&A)... #104"}));
    action(menuBarMenu(app, 0), "32786")->trigger();
    EXPECT_EQ(tray.filters, 1);

    // Closing it keeps it reachable in the task bar.
    EXPECT_FALSE(app.close());
    EXPECT_TRUE(app.isVisible());
    EXPECT_TRUE(app.isMinimized());

    // A tray that turns up later gets the icon, and the window goes.
    tray.available = true;
    tray.poll(1);
    EXPECT_EQ(app.trayState(), State::InTray);
    EXPECT_FALSE(app.isVisible());
    ASSERT_NE(app.trayIcon(), nullptr);
    EXPECT_EQ(entries(menuBarMenu(app, 0)), (std::vector<std::string>{"Properties(&P) #32777", "Exit(&X) #105"}));
}

TEST(TrayApplication, ATrayAtStartNeedsNoWait)
{
    Tray tray(true);
    EXPECT_EQ(tray.app->trayState(), State::InTray);
    EXPECT_FALSE(tray.app->isVisible());
    tray.poll(40);
    EXPECT_EQ(tray.app->trayState(), State::InTray);
}

// Each held mail has an entry at the top of both menus while it is held;
// each entry undoes its own mail.
TEST(TrayApplication, EachHeldMailHasAnUndoEntryInBothMenusWhileHeld)
{
    Tray tray(true);
    MAIL::HeldMailWatch watch;
    QObject::connect(&watch, &MAIL::HeldMailWatch::began, tray.app.get(), &TrayApplication::addHeldMail);
    QObject::connect(&watch, &MAIL::HeldMailWatch::ended, tray.app.get(), &TrayApplication::removeHeldMail);
    QMenu* trayMenu = tray.app->trayMenu();
    QMenu* file = menuBarMenu(*tray.app, 0);
    const std::vector<std::string> trayBefore = entries(trayMenu), fileBefore = entries(file);
    HoldingSession first("Q3 & figures\r\nSent a mail:"), second("second");
    const auto entry = [](QMenu* menu, const HoldingSession& held) {
        return action(menu, ("undo" + std::to_string(held.number)).c_str());
    };
    ASSERT_TRUE(spinUntil([&] { return entry(trayMenu, second) != nullptr; }));
    for (QMenu* menu : {trayMenu, file}) {
        const std::vector<std::string> shown = entries(menu);
        EXPECT_EQ(std::vector<std::string>(shown.begin(), shown.begin() + 3),
                  (std::vector<std::string>{"Undo sending 'Q3 && figures\\x0D\\x0ASent a mail:' #undo" +
                                                std::to_string(first.number),
                                            "Undo sending 'second' #undo" + std::to_string(second.number), "---"}));
    }
    entry(trayMenu, second)->trigger();
    EXPECT_TRUE(second.token.isCancelled());
    EXPECT_FALSE(first.token.isCancelled());
    entry(file, first)->trigger();
    EXPECT_TRUE(first.token.isCancelled());

    first.release();
    ASSERT_TRUE(spinUntil([&] { return entry(trayMenu, first) == nullptr; }));
    EXPECT_EQ(entry(file, first), nullptr);
    EXPECT_NE(entry(file, second), nullptr);
    second.release();
    ASSERT_TRUE(spinUntil([&] { return entries(trayMenu) == trayBefore; }));
    EXPECT_EQ(entries(file), fileBefore);
}

// A StatusNotifierWatcher on a private bus.
class TrayWatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bus_ = std::make_unique<PrivateBus>();
        ASSERT_FALSE(bus_->address().isEmpty()) << "dbus-daemon did not start";
        connection_ = QDBusConnection::connectToBus(bus_->address(), QStringLiteral("tray-under-test"));
        ASSERT_TRUE(connection_.isConnected());
    }
    void TearDown() override
    {
        tray_.reset();
        watcher_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("tray-under-test"));
        bus_.reset();
    }
    void startWatcher()
    {
        watcher_ = std::make_unique<FakeTrayWatcher>(bus_->address());
        ASSERT_TRUE(watcher_->registered());
    }
    void startTray()
    {
        tray_ = std::make_unique<Tray>(false, connection_);
        QObject::connect(tray_->app.get(), &TrayApplication::trayStateChanged,
                         [this](State state) { states_.push_back(state); });
    }

    std::unique_ptr<PrivateBus> bus_;
    QDBusConnection connection_{QStringLiteral("none")};
    std::unique_ptr<FakeTrayWatcher> watcher_;
    std::unique_ptr<Tray> tray_;
    std::vector<State> states_;
};

TEST_F(TrayWatcherTest, AWatcherWithAHostIsATray)
{
    startWatcher();
    startTray();
    ASSERT_TRUE(spinUntil([&] { return tray_->app->trayState() == State::InTray; }));
    EXPECT_FALSE(tray_->app->isVisible());
    ASSERT_NE(tray_->app->trayIcon(), nullptr);
    EXPECT_EQ(tray_->app->trayIcon()->contextMenu(), tray_->app->trayMenu());
}

TEST_F(TrayWatcherTest, AWatcherThatRestartsGetsTheIconBackWithoutTheWindow)
{
    startWatcher();
    startTray();
    ASSERT_TRUE(spinUntil([&] { return tray_->app->trayState() == State::InTray; }));
    QSystemTrayIcon* icon = tray_->app->trayIcon();

    watcher_.reset();
    ASSERT_TRUE(spinUntil([&] { return tray_->app->trayState() == State::Waiting; }));
    tray_->poll(3);
    startWatcher();
    ASSERT_TRUE(spinUntil([&] { return tray_->app->trayState() == State::InTray; }));
    EXPECT_EQ(tray_->app->trayIcon(), icon);
    EXPECT_FALSE(tray_->app->isVisible());
    EXPECT_EQ(states_, (std::vector<State>{State::InTray, State::Waiting, State::InTray}));
}

TEST_F(TrayWatcherTest, AWatcherThatStaysAwayLeadsToTheWindow)
{
    startWatcher();
    startTray();
    ASSERT_TRUE(spinUntil([&] { return tray_->app->trayState() == State::InTray; }));
    watcher_.reset();
    ASSERT_TRUE(spinUntil([&] { return tray_->app->trayState() == State::Waiting; }));
    tray_->poll(20);
    EXPECT_EQ(tray_->app->trayState(), State::Fallback);
    EXPECT_TRUE(tray_->app->isVisible());
}

TEST_F(TrayWatcherTest, NoWatcherMeansTheWindowThenAWatcherTakesOver)
{
    startTray();
    for (int i = 0; i < 20; ++i) {
        tray_->poll(1);
        spinUntil([] { return false; }, 20);  // let the question to the bus fail
    }
    EXPECT_EQ(tray_->app->trayState(), State::Fallback);
    EXPECT_TRUE(tray_->app->isVisible());
    EXPECT_EQ(tray_->app->trayIcon(), nullptr);

    startWatcher();
    ASSERT_TRUE(spinUntil([&] { return tray_->app->trayState() == State::InTray; }));
    EXPECT_FALSE(tray_->app->isVisible());
    EXPECT_NE(tray_->app->trayIcon(), nullptr);
}
