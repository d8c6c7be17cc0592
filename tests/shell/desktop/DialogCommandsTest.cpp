// The Properties and Filters commands: one dialog at a time, the settings
// written after OK (Security included, an unknown value kept), and a
// ProxyPort change that moves a real listener, or keeps the old one serving
// when the new port is taken.
#include "DialogsTestSupport.h"
#include "config/ProxyConfiguration.h"
#include "relay/Notifications.h"
#include "relay/RelayTestSupport.h"
#include "relay/ServerSecurity.h"
#include "shell/ProxyService.h"
#include "shell/desktop/DialogCommands.h"
#include "shell/desktop/FiltersDialog.h"
#include "shell/desktop/PropertiesDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <vector>

using MAIL::FiltersCommand;
using MAIL::PropertiesCommand;
using MAIL::ProxyConfiguration;
using namespace pelorus::test;

namespace {

class Commands : public testing::Test {
protected:
    PrivateConfig config;
    ScriptedServer upstream{[](Connection& peer) {
        peer.send("220 upstream ready\r\n");
        peer.waitClosed();
    }};
    std::uint16_t oldPort = freePort();
    MAIL::ProxyService service;
    std::mutex boxLock;
    std::vector<std::string> listenerBoxes;
    PropertiesCommand command{service, nullptr};
    std::optional<bool> closed;

    void SetUp() override
    {
        ProxyConfiguration settings;
        ASSERT_TRUE(settings.setServer("127.0.0.1"));
        ASSERT_TRUE(settings.setPort(upstream.port()));
        ASSERT_TRUE(settings.setProxyPort(oldPort));
        MAIL::setMessageBoxSink([this](const std::string&, const std::string& text, MAIL::NoticeKind) {
            std::lock_guard guard(boxLock);
            listenerBoxes.push_back(text);
        });
        service.restartListener();  // the running listener, without the watcher
        QObject::connect(&command, &PropertiesCommand::closed, [this](bool accepted) { closed = accepted; });
    }
    void TearDown() override
    {
        if (QMessageBox* box = shownBox())
            box->close();
        MAIL::setMessageBoxSink({});
        service.stop();
    }

    static std::uint16_t storedProxyPort()
    {
        std::uint16_t port = 0;
        ProxyConfiguration().getProxyPort(port);
        return port;
    }
    // True when a client on the port gets the upstream server's greeting.
    static bool serves(std::uint16_t port)
    {
        auto client = connectTo(port);
        return client && client->readLine().rfind("220 upstream ready", 0) == 0;
    }
    // Opens the full form, enters the proxy port and presses OK.
    void submitProxyPort(std::uint16_t port, bool startupForm = false)
    {
        command.open(startupForm);
        ASSERT_NE(command.dialog(), nullptr);
        child<QLineEdit>(command.dialog(), "1017")->setText(QString::number(port));
        child<QPushButton>(command.dialog(), "1")->click();
    }
};

TEST_F(Commands, AProxyPortChangeToATakenPortKeepsTheOldPortServing)
{
    const std::uint16_t taken = upstream.port();
    submitProxyPort(taken);
    QMessageBox* box = waitForBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(boxText(box).rfind("Found inavalid parameter setting for Pelorus\r\nPlease reconfirm the setting.", 0),
              0u)
        << boxText(box);
    EXPECT_NE(boxText(box).find("already in use"), std::string::npos);
    {
        std::lock_guard guard(boxLock);
        EXPECT_EQ(listenerBoxes,
                  (std::vector<std::string>{"Error in bind fuction.\r\nCheck the port number for Pelorus."}));
    }
    EXPECT_EQ(storedProxyPort(), oldPort);  // written back
    EXPECT_EQ(service.listeningPort(), oldPort);
    EXPECT_TRUE(serves(oldPort));
    EXPECT_TRUE(command.isOpen());
    EXPECT_FALSE(closed.has_value());

    answer(box, QMessageBox::Ok);  // the dialog opens again with what was entered
    ASSERT_NE(command.dialog(), nullptr);
    EXPECT_TRUE(command.dialog()->isVisible());
    EXPECT_EQ(child<QLineEdit>(command.dialog(), "1017")->text(), QString::number(taken));
    child<QPushButton>(command.dialog(), "2")->click();
    ASSERT_TRUE(closed.has_value());
    EXPECT_FALSE(*closed);
    EXPECT_FALSE(command.isOpen());
    EXPECT_EQ(storedProxyPort(), oldPort);
    EXPECT_TRUE(serves(oldPort));
}

TEST_F(Commands, AProxyPortChangeMovesTheListener)
{
    const std::uint16_t newPort = freePort();
    submitProxyPort(newPort);
    ASSERT_TRUE(eventually([&] { return closed.has_value(); }));
    EXPECT_TRUE(*closed);
    EXPECT_EQ(storedProxyPort(), newPort);
    EXPECT_EQ(service.listeningPort(), newPort);
    EXPECT_TRUE(serves(newPort));
    EXPECT_EQ(connectTo(oldPort), nullptr);
}

TEST_F(Commands, OtherChangesAreWrittenWithoutMovingTheListener)
{
    command.open(false);
    child<QLineEdit>(command.dialog(), "1016")->setText("587");
    child<QPushButton>(command.dialog(), "1")->click();
    ASSERT_TRUE(eventually([&] { return closed.has_value(); }));
    EXPECT_TRUE(*closed);
    std::uint16_t port = 0;
    ProxyConfiguration().getPort(port);
    EXPECT_EQ(port, 587);
    EXPECT_EQ(service.listeningPort(), oldPort);
}

TEST_F(Commands, SecurityIsWrittenWithoutRestartingTheListener)
{
    struct Case {
        const char* stored;
        const char* shown;
        int chosen;  // -1: left as shown
        const char* written;
    };
    for (const Case& c : {Case{"STARTTLS", "STARTTLS", 2, "tls"}, Case{"ssl", "ssl", -1, "ssl"},
                          Case{"", "None", 1, "starttls"}}) {
        SCOPED_TRACE(c.stored);
        ASSERT_TRUE(ProxyConfiguration().setString(ProxyConfiguration::SettingKey, MAIL::SecuritySetting, c.stored));
        closed.reset();
        command.open(false);
        auto* combo = child<QComboBox>(command.dialog(), "1024");
        EXPECT_EQ(combo->currentText(), c.shown);
        if (c.chosen >= 0)
            combo->setCurrentIndex(c.chosen);
        child<QPushButton>(command.dialog(), "1")->click();
        ASSERT_TRUE(eventually([&] { return closed.has_value(); }));
        EXPECT_TRUE(*closed);
        EXPECT_EQ(MAIL::readServerSecurity().setting, c.written);
        EXPECT_EQ(shownBox(), nullptr);
        EXPECT_EQ(service.listeningPort(), oldPort);
        auto client = connectTo(oldPort);  // answers (with a 421 in a mode the upstream cannot do)
        EXPECT_TRUE(client && !client->readLine().empty());
        std::lock_guard guard(boxLock);
        EXPECT_TRUE(listenerBoxes.empty());  // a listener made again would say its port is taken
    }
}

// The Record group: its box shows DecisionLog as stored (on when absent),
// and OK stores the box.
TEST_F(Commands, TheRecordBoxShowsAndStoresDecisionLog)
{
    for (const bool keep : {false, true}) {
        SCOPED_TRACE(keep);
        closed.reset();
        command.open(false);
        auto* box = child<QCheckBox>(command.dialog(), "decisionLog");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), "Keep a record of my decisions");
        EXPECT_EQ(box->isChecked(), !keep);
        box->setChecked(keep);
        child<QPushButton>(command.dialog(), "1")->click();
        ASSERT_TRUE(eventually([&] { return closed.has_value(); }));
        bool stored = !keep;
        EXPECT_TRUE(ProxyConfiguration().getDecisionLog(stored));
        EXPECT_EQ(stored, keep);
    }
}

// The Checks and Undo groups show the stored settings (their defaults when
// absent) and OK stores what was changed.
TEST_F(Commands, TheChecksAndUndoGroupsShowAndStoreTheirSettings)
{
    struct Box {
        const char* id;
        const char* text;
        bool byDefault;
        bool (ProxyConfiguration::*stored)(bool&);
    };
    struct Number {
        const char* id;
        const char* entered;
        std::int32_t written;
        bool (ProxyConfiguration::*stored)(std::int32_t&);
    };
    const Box boxes[] = {
        {"flagNewRecipients", "Flag first-time recipients", true, &ProxyConfiguration::getFlagNewRecipients},
        {"confirmEachRecipient", "Ask me to tick each flagged recipient", false,
         &ProxyConfiguration::getConfirmEachRecipient},
        {"holdTrusted", "Also hold mails that need no confirmation", true, &ProxyConfiguration::getHoldTrusted},
    };
    const Number numbers[] = {{"maxRecipients", "40", 40, &ProxyConfiguration::getMaxRecipients},
                              {"sendDelay", "15", 15, &ProxyConfiguration::getSendDelay}};
    command.open(false);
    for (const Box& box : boxes) {
        SCOPED_TRACE(box.id);
        auto* shown = child<QCheckBox>(command.dialog(), box.id);
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->text(), box.text);
        EXPECT_EQ(shown->isChecked(), box.byDefault);
        shown->setChecked(!box.byDefault);
    }
    for (const Number& number : numbers) {
        SCOPED_TRACE(number.id);
        auto* edit = child<QLineEdit>(command.dialog(), number.id);
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->text(), "0");
        edit->setText(number.entered);
    }
    child<QPushButton>(command.dialog(), "1")->click();
    ASSERT_TRUE(eventually([&] { return closed.has_value(); }));
    EXPECT_TRUE(*closed);
    ProxyConfiguration settings;
    for (const Box& box : boxes) {
        bool stored = box.byDefault;
        EXPECT_TRUE((settings.*box.stored)(stored));
        EXPECT_EQ(stored, !box.byDefault) << box.id;
    }
    for (const Number& number : numbers) {
        std::int32_t stored = 0;
        EXPECT_TRUE((settings.*number.stored)(stored));
        EXPECT_EQ(stored, number.written) << number.id;
    }
}

TEST_F(Commands, TheStartupFormOnlyWritesTheSettings)
{
    const std::uint16_t newPort = freePort();
    submitProxyPort(newPort, true);
    ASSERT_TRUE(eventually([&] { return closed.has_value(); }));
    EXPECT_TRUE(*closed);
    EXPECT_EQ(storedProxyPort(), newPort);
    EXPECT_EQ(service.listeningPort(), oldPort);
}

TEST_F(Commands, CancelWritesNothing)
{
    const std::string before = readFile(ProxyConfiguration::settingsFile());
    command.open(false);
    child<QLineEdit>(command.dialog(), "1014")->setText("elsewhere.example");
    child<QPushButton>(command.dialog(), "2")->click();
    ASSERT_TRUE(closed.has_value());
    EXPECT_FALSE(*closed);
    EXPECT_EQ(readFile(ProxyConfiguration::settingsFile()), before);
}

TEST_F(Commands, AFailedSettingsWriteSaysSoAndKeepsTheListener)
{
    command.open(false);
    // A folder where the settings file should be: no write can replace it.
    const std::string file = ProxyConfiguration::settingsFile();
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    child<QLineEdit>(command.dialog(), "1017")->setText(QString::number(freePort()));
    child<QPushButton>(command.dialog(), "1")->click();
    QMessageBox* box = waitForBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(boxText(box), "The settings could not be written to " + file + ".\r\nThe settings were not saved.");
    EXPECT_TRUE(command.isOpen());
    answer(box, QMessageBox::Ok);
    ASSERT_TRUE(closed.has_value());
    EXPECT_FALSE(*closed);
    EXPECT_EQ(service.listeningPort(), oldPort);
    EXPECT_NE(connectTo(oldPort), nullptr);  // still accepting (its sessions cannot read Server now)
}

TEST_F(Commands, OpeningPropertiesAgainKeepsTheOneDialog)
{
    command.open(false);
    MAIL::PropertiesDialog* first = command.dialog();
    command.open(false);
    EXPECT_EQ(command.dialog(), first);
    EXPECT_TRUE(first->isVisible());
    child<QPushButton>(first, "2")->click();
    EXPECT_FALSE(command.isOpen());
}

TEST(FiltersCommandTest, OpeningAgainKeepsTheOneDialog)
{
    PrivateConfig config;
    FiltersCommand command(nullptr);
    EXPECT_FALSE(command.isOpen());
    command.open();
    MAIL::FiltersDialog* first = command.dialog();
    ASSERT_NE(first, nullptr);
    command.open();
    EXPECT_EQ(command.dialog(), first);
    child<QPushButton>(first, "2")->click();
    EXPECT_FALSE(command.isOpen());
    command.open();
    EXPECT_TRUE(command.isOpen());
    EXPECT_NE(command.dialog(), nullptr);
}

} // namespace
