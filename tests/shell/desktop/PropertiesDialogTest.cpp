// The Properties dialog: the setters' trimming, both validations with their
// messages (run off the GUI thread, with OK and Test disabled meanwhile),
// the port key filter, the Security list, and the connection test against
// scripted servers.
#include "DialogsTestSupport.h"
#include "relay/RelayTestSupport.h"
#include "relay/ServerSecurity.h"
#include "shell/desktop/PropertiesDialog.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>

using MAIL::PropertiesDialog;
using namespace pelorus::test;

namespace {

class Properties : public testing::Test {
protected:
    std::unique_ptr<PropertiesDialog> dialog = std::make_unique<PropertiesDialog>();
    std::optional<int> result;

    void SetUp() override
    {
        QObject::connect(dialog.get(), &QDialog::finished, [this](int r) { result = r; });
    }
    void TearDown() override
    {
        if (QMessageBox* box = shownBox())
            box->close();
    }
    QLineEdit* server() { return child<QLineEdit>(dialog.get(), "1014"); }
    QLineEdit* port() { return child<QLineEdit>(dialog.get(), "1016"); }
    QLineEdit* proxyPort() { return child<QLineEdit>(dialog.get(), "1017"); }
    QComboBox* security() { return child<QComboBox>(dialog.get(), "1024"); }
    QPushButton* ok() { return child<QPushButton>(dialog.get(), "1"); }
    QPushButton* test() { return child<QPushButton>(dialog.get(), "1015"); }

    void fill(const QString& serverText, const QString& portText, const QString& proxyText)
    {
        dialog->present();
        server()->setText(serverText);
        port()->setText(portText);
        proxyPort()->setText(proxyText);
    }
    // Presses a button and waits until the check it started has ended.
    void pressAndWait(QPushButton* button)
    {
        bool finished = false;
        const auto connection =
            QObject::connect(dialog.get(), &PropertiesDialog::checkFinished, [&] { finished = true; });
        button->click();
        EXPECT_TRUE(dialog->isBusy() || finished);
        if (!finished) {
            EXPECT_FALSE(ok()->isEnabled());
            EXPECT_FALSE(test()->isEnabled());
        }
        EXPECT_TRUE(eventually([&] { return finished; }));
        QObject::disconnect(connection);
        EXPECT_TRUE(ok()->isEnabled());
        EXPECT_TRUE(test()->isEnabled());
    }
};

TEST_F(Properties, SettersTrimAndReadLeadingDigits)
{
    dialog->setServer(" \t smtp.example.com\r\n");
    dialog->setAllowed("  a.example;b.example ");
    dialog->setPort(" 587abc");
    dialog->setProxyPort("x");
    EXPECT_EQ(dialog->getServer(), "smtp.example.com");
    EXPECT_EQ(dialog->getAllowed(), "a.example;b.example");
    EXPECT_EQ(dialog->getPort(), 587);
    EXPECT_EQ(dialog->getProxyPort(), 0);
    dialog->setProxyPort(65536 + 25);
    EXPECT_EQ(dialog->getProxyPort(), 25);  // the low 16 bits
}

struct ValidationCase {
    const char* name;
    QString server, port, proxyPort;
    const char* message;  // nullptr: accepted
};

void PrintTo(const ValidationCase& c, std::ostream* out) { *out << c.name; }

class Validations : public Properties, public testing::WithParamInterface<ValidationCase> {};

TEST_P(Validations, ShowTheFirstFailureOrAccept)
{
    const ValidationCase& c = GetParam();
    dialog->setServer("before.example");
    dialog->setPort(25);
    dialog->setProxyPort(2525);
    fill(c.server, c.port, c.proxyPort);
    pressAndWait(ok());
    QMessageBox* box = shownBox();
    if (c.message == nullptr) {
        EXPECT_EQ(box, nullptr) << boxText(box);
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(*result, QDialog::Accepted);
        EXPECT_EQ(dialog->getServer(), c.server.trimmed().toStdString());
        EXPECT_EQ(dialog->getPort(), c.port.trimmed().toUShort());
        EXPECT_EQ(dialog->getProxyPort(), c.proxyPort.trimmed().toUShort());
        return;
    }
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(boxText(box), c.message);
    EXPECT_EQ(box->windowTitle(), "Pelorus");
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_FALSE(result.has_value());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->getServer(), "before.example");  // nothing taken over
    EXPECT_EQ(dialog->getProxyPort(), 2525);
}

INSTANTIATE_TEST_SUITE_P(
    Properties, Validations,
    testing::Values(
        ValidationCase{"Good", " 127.0.0.1 ", "25", "2526", nullptr},
        ValidationCase{"HighestPorts", "127.0.0.1", "65535", "65535", nullptr},
        ValidationCase{"ServerOfSpaces", "   ", "25", "2525",
                       "SMTP server name is empty!\r\n\r\nPlease enter the SMTP server name."},
        ValidationCase{"ServerEmpty", "", "", "",
                       "SMTP server name is empty!\r\n\r\nPlease enter the SMTP server name."},
        ValidationCase{"UnknownServer", "no-such-host.invalid", "25", "2525",
                       "Not found host name of the SMTP server(no-such-host.invalid).\r\n\r\n"
                       "Please reconfirm the SMTP server name."},
        ValidationCase{"PortEmpty", "127.0.0.1", "", "2525",
                       "Port number is empty!\r\n\r\nPlease enter the port number to the SMTP server."},
        ValidationCase{"PortZero", "127.0.0.1", "0", "2525",
                       "Port number is invalid.\r\n\r\nPlease enter the port number in the range [1,65535] to the "
                       "SMTP server."},
        ValidationCase{"PortTooHigh", "127.0.0.1", "65536", "2525",
                       "Port number is invalid.\r\n\r\nPlease enter the port number in the range [1,65535] to the "
                       "SMTP server."},
        ValidationCase{"ProxyPortEmpty", "127.0.0.1", "25", "", "Please enter the port number to the Pelorus."},
        ValidationCase{"ProxyPortTooHigh", "127.0.0.1", "25", "99999",
                       "Please enter the port number in the range [1, 65535] to the Pelorus."},
        ValidationCase{"ServerFailsFirst", "", "0", "", "SMTP server name is empty!\r\n\r\nPlease enter the SMTP "
                                                        "server name."}),
    [](const testing::TestParamInfo<ValidationCase>& info) { return std::string(info.param.name); });

TEST_F(Properties, CancelKeepsTheGivenValues)
{
    dialog->setServer("kept.example");
    dialog->setPort(465);
    dialog->setProxyPort(2525);
    fill("other.example", "1", "2");
    child<QPushButton>(dialog.get(), "2")->click();
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, QDialog::Rejected);
    EXPECT_EQ(dialog->getServer(), "kept.example");
    EXPECT_EQ(dialog->getPort(), 465);
    EXPECT_EQ(dialog->getProxyPort(), 2525);
}

struct KeyCase {
    const char* name;
    const char* text;  // typed key text; "\b" is Backspace
    int length;
    int selected;
    bool accepted;
};

void PrintTo(const KeyCase& c, std::ostream* out) { *out << c.name; }

class KeyFilter : public testing::TestWithParam<KeyCase> {};

TEST_P(KeyFilter, FollowsTheLengthRules)
{
    const KeyCase& c = GetParam();
    const bool backspace = std::string(c.text) == "\b";
    EXPECT_EQ(MAIL::portKeyAccepted(backspace ? QString("\b") : QString(c.text), backspace, c.length, c.selected),
              c.accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Properties, KeyFilter,
    testing::Values(KeyCase{"DigitIntoEmpty", "7", 0, 0, true}, KeyCase{"FifthDigit", "7", 4, 0, true},
                    KeyCase{"SixthDigitSwallowed", "7", 5, 0, false},
                    KeyCase{"DigitReplacingASelection", "7", 5, 5, true},
                    KeyCase{"LetterSwallowed", "a", 0, 0, false}, KeyCase{"SpaceSwallowed", " ", 1, 0, false},
                    KeyCase{"NonAsciiDigitSwallowed", "\xd9\xa3", 0, 0, false},
                    KeyCase{"DotAfterADigit", ".", 1, 0, true}, KeyCase{"DotIntoEmptySwallowed", ".", 0, 0, false},
                    KeyCase{"DotAfterFiveSwallowed", ".", 6, 0, false},
                    KeyCase{"BackspaceOnEmptySwallowed", "\b", 0, 0, false},
                    KeyCase{"Backspace", "\b", 3, 0, true},
                    KeyCase{"BackspaceErasesALongPaste", "\b", 8, 0, true}),
    [](const testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

TEST_F(Properties, TypingIntoAPortEditIsFiltered)
{
    fill("127.0.0.1", "", "");
    QLineEdit* edit = port();
    edit->setFocus();
    QTest::keyClicks(edit, "12a3456");
    EXPECT_EQ(edit->text(), "12345");
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), "1234");
    QTest::keyClick(edit, Qt::Key_Home);
    QTest::keyClick(edit, Qt::Key_Delete);  // not a typed character: not filtered
    EXPECT_EQ(edit->text(), "234");
    QTest::keyClicks(proxyPort(), "x25");
    EXPECT_EQ(proxyPort()->text(), "25");
}

TEST_F(Properties, TabAndEnterKeepTheirDialogMeaning)
{
    fill("127.0.0.1", "25", "2527");
    port()->setFocus();
    QTest::keyClick(port(), Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), port());
    proxyPort()->setFocus();
    bool finished = false;
    QObject::connect(dialog.get(), &PropertiesDialog::checkFinished, [&] { finished = true; });
    QTest::keyClick(proxyPort(), Qt::Key_Return);  // presses OK
    ASSERT_TRUE(eventually([&] { return finished; }));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, QDialog::Accepted);
}

TEST_F(Properties, APastedMultiLineTextKeepsItsFirstLine)
{
    fill("", "", "");
    QGuiApplication::clipboard()->setText("8025\r\n9999");
    proxyPort()->setFocus();
    proxyPort()->paste();
    EXPECT_EQ(proxyPort()->text(), "8025");
    QGuiApplication::clipboard()->setText("smtp.example.com\nsecond line");
    server()->paste();
    EXPECT_EQ(server()->text(), "smtp.example.com");
}

TEST_F(Properties, SecurityFollowsThePortInTheServerGroup)
{
    QComboBox* combo = security();
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    EXPECT_EQ(items, (QStringList{"None", "STARTTLS", "TLS"}));
    auto* group = qobject_cast<QGroupBox*>(combo->parentWidget());
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), "SMTP Server");
    auto* grid = qobject_cast<QGridLayout*>(group->layout());
    ASSERT_NE(grid, nullptr);
    const auto rowOf = [grid](QWidget* widget) {
        int row = -1, column = -1, rows = 0, columns = 0;
        grid->getItemPosition(grid->indexOf(widget), &row, &column, &rows, &columns);
        return row;
    };
    const int row = rowOf(combo);
    EXPECT_GT(row, rowOf(port()));
    EXPECT_LT(row, rowOf(test()));
    auto* label = qobject_cast<QLabel*>(grid->itemAtPosition(row, 0)->widget());
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "Security");
    // Tab goes from the port to the list.
    QWidget* next = port()->nextInFocusChain();
    while (next != port() && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    EXPECT_EQ(next, combo);
}

struct SecurityCase {
    const char* name;
    const char* stored;
    QString shown;
    int items;
    int chosen;  // the item picked before OK; -1: none
    const char* written;
};

void PrintTo(const SecurityCase& c, std::ostream* out) { *out << c.name; }

class SecurityValues : public Properties, public testing::WithParamInterface<SecurityCase> {};

TEST_P(SecurityValues, AreShownAndGivenBack)
{
    const SecurityCase& c = GetParam();
    dialog->setServer("127.0.0.1");
    dialog->setPort(25);
    dialog->setProxyPort(2525);
    dialog->setSecurity(c.stored);
    dialog->present();
    EXPECT_EQ(security()->currentText(), c.shown);
    EXPECT_EQ(security()->count(), c.items);
    if (c.chosen >= 0)
        security()->setCurrentIndex(c.chosen);
    pressAndWait(ok());
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, QDialog::Accepted);
    EXPECT_EQ(dialog->getSecurity(), c.written);
    dialog->present();  // shown again: an unknown text chosen away is gone
    EXPECT_EQ(security()->count(), MAIL::parseSecurityMode(c.written) == MAIL::SecurityMode::Unknown ? 4 : 3);
    EXPECT_EQ(security()->currentData().toString().toStdString(), c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Properties, SecurityValues,
    testing::Values(SecurityCase{"MissingIsNone", "", "None", 3, -1, "none"},
                    SecurityCase{"StoredInAnyCase", "STARTTLS", "STARTTLS", 3, -1, "starttls"},
                    SecurityCase{"StoredWithBlanks", " Tls ", "TLS", 3, -1, "tls"},
                    SecurityCase{"ChangedToNone", "tls", "TLS", 3, 0, "none"},
                    SecurityCase{"UnknownIsKept", "ssl", "ssl", 4, -1, "ssl"},
                    SecurityCase{"UnknownChangedToStartTls", "ssl", "ssl", 4, 1, "starttls"}),
    [](const testing::TestParamInfo<SecurityCase>& info) { return std::string(info.param.name); });

TEST_F(Properties, CancelKeepsTheGivenSecurity)
{
    dialog->setSecurity("starttls");
    dialog->present();
    security()->setCurrentIndex(2);
    child<QPushButton>(dialog.get(), "2")->click();
    EXPECT_EQ(dialog->getSecurity(), "starttls");
}

// The Test button uses the Security shown, not yet saved: a plain server
// that does not offer STARTTLS, or a mode the relay does not know, fails
// with the reason.
TEST_F(Properties, TestUsesTheUnsavedSecurity)
{
    struct Case {
        const char* stored;
        int chosen;
        const char* reason;
    };
    ScriptedServer smtp([&](Connection& peer) {
        peer.send("220 plain only\r\n");
        if (peer.readLine().empty())
            return;
        peer.send("250-hello\r\n250 SIZE 1000\r\n");
        peer.readLine(10000);
    });
    for (const Case& c : {Case{"none", 1, "Error:The SMTP server does not offer STARTTLS."},
                          Case{"ssl", -1, "Error:The Security setting is not none, starttls or tls."}}) {
        SCOPED_TRACE(c.stored);
        dialog->setSecurity(c.stored);
        fill("127.0.0.1", QString::number(smtp.port()), "2525");
        if (c.chosen >= 0)
            security()->setCurrentIndex(c.chosen);
        pressAndWait(test());
        QMessageBox* box = shownBox();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        EXPECT_EQ(boxText(box), std::string("Failed to connect to the SMTP server.\r\nPlease confirm the setting for "
                                            "the SMTP server.\r\n\r\n") +
                                    c.reason);
        box->close();
        EXPECT_EQ(dialog->getSecurity(), c.stored);
    }
}

// The Test button against a scripted server: what the user is shown.
struct TestButtonCase {
    const char* name;
    std::string greeting;
    std::string quit;
    bool passes;
};

void PrintTo(const TestButtonCase& c, std::ostream* out) { *out << c.name; }

class TestButton : public Properties, public testing::WithParamInterface<TestButtonCase> {};

TEST_P(TestButton, ShowsTheOutcome)
{
    const TestButtonCase& c = GetParam();
    ScriptedServer smtp([&](Connection& peer) {
        peer.send(c.greeting);
        if (peer.readLine().empty())
            return;
        peer.send("250-hello\r\n250 SIZE 1000\r\n");
        if (peer.readLine().empty())
            return;
        peer.send(c.quit);
        peer.waitClosed();
    });
    fill("127.0.0.1", QString::number(smtp.port()), "2525");
    pressAndWait(test());
    QMessageBox* box = shownBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Pelorus");
    EXPECT_FALSE(result.has_value());  // the dialog stays open
    if (c.passes) {
        EXPECT_EQ(box->icon(), QMessageBox::Information);
        EXPECT_EQ(boxText(box), "Connected to the SMTP server '127.0.0.1' (without account authentication).\r\n\r\n" +
                                    c.greeting.substr(0, c.greeting.size() - 2) + "\r\n" +
                                    c.quit.substr(0, c.quit.size() - 2));
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
    } else {
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        EXPECT_EQ(boxText(box),
                  "Failed to connect to the SMTP server.\r\nPlease confirm the setting for the SMTP server.");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Properties, TestButton,
    testing::Values(TestButtonCase{"MultiLineGreeting", "220-<b>mx</b>\r\n220 ready\r\n", "221 bye\r\n", true},
                    TestButtonCase{"GreetingRefused", "421 busy\r\n", "221 bye\r\n", false},
                    TestButtonCase{"QuitNot221", "220 ready\r\n", "250 what\r\n", false}),
    [](const testing::TestParamInfo<TestButtonCase>& info) { return std::string(info.param.name); });

TEST_F(Properties, TestWithAnInvalidPortShowsTheValidationMessage)
{
    fill("127.0.0.1", "0", "2525");
    pressAndWait(test());
    QMessageBox* box = shownBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(boxText(box),
              "Port number is invalid.\r\n\r\nPlease enter the port number in the range [1,65535] to the SMTP server.");
}

// The Session group: the box shows the autostart file as it is when the
// dialog opens, and OK writes or removes the file.
TEST_F(Properties, SessionBoxShowsTheAutostartFileAndOkWritesOrRemovesIt)
{
    PrivateConfig config;
    const std::string file = config.dir / "autostart/pelorus.desktop";
    auto* box = child<QCheckBox>(dialog.get(), "sessionStart");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Start Pelorus when I log in");
    for (const bool tick : {true, false}) {
        SCOPED_TRACE(tick);
        result.reset();
        fill("127.0.0.1", "25", "2525");
        EXPECT_EQ(box->isChecked(), !tick) << "opened with the state the last OK left";
        box->setChecked(tick);
        pressAndWait(ok());
        ASSERT_EQ(result, QDialog::Accepted) << boxText(shownBox());
        EXPECT_EQ(pathExists(file), tick);
    }
    std::filesystem::create_directories(config.dir / "autostart");
    writeFile(file, "[Desktop Entry]\nType=Application\nName=Pelorus\nExec=pelorus\nHidden=true\n");
    dialog->present();
    EXPECT_FALSE(box->isChecked()) << "a hidden entry starts nothing";
}

// A failure keeps the dialog open with the file's path and the reason, and
// takes none of the entered values over.
TEST_F(Properties, AnAutostartFileThatCannotBeWrittenKeepsTheDialogOpen)
{
    PrivateConfig config;
    const std::string file = config.dir / "autostart/pelorus.desktop";
    std::filesystem::create_directories(file);  // a folder where the file belongs
    dialog->setServer("before.example");
    fill("127.0.0.1", "25", "2525");
    child<QCheckBox>(dialog.get(), "sessionStart")->setChecked(true);
    pressAndWait(ok());
    QMessageBox* error = shownBox();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(boxText(error), "Pelorus could not write " + file + ": Is a directory.");
    EXPECT_FALSE(result.has_value());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->getServer(), "before.example");
}

} // namespace

// The numbers of the Checks and Undo groups: the recipient limit is a whole
// number from 0 to 10000, the hold one from 0 to 60; anything else keeps the
// dialog open with nothing taken over.
TEST_F(Properties, NumbersOutsideTheirRangeAreRefused)
{
    struct Field {
        const char* edit;
        std::int32_t (PropertiesDialog::*stored)() const;
        const char* refusal;
    };
    const Field limit{"maxRecipients", &PropertiesDialog::getMaxRecipients,
                      "Please enter a number of recipients in [0, 10000]."};
    const Field delay{"sendDelay", &PropertiesDialog::getSendDelay, "Please enter a number of seconds in [0, 60]."};
    struct Case {
        const Field& field;
        const char* typed;
        std::optional<int> taken;
    };
    for (const Case& c : {Case{limit, "0", 0}, Case{limit, " 10000 ", 10000}, Case{limit, "25", 25},
                          Case{limit, "10001", std::nullopt}, Case{limit, "-1", std::nullopt},
                          Case{limit, "", std::nullopt}, Case{limit, "1e3", std::nullopt},
                          Case{limit, "99999999", std::nullopt}, Case{delay, "0", 0}, Case{delay, " 60 ", 60},
                          Case{delay, "08", 8}, Case{delay, "61", std::nullopt}, Case{delay, "-5", std::nullopt},
                          Case{delay, "2.5", std::nullopt}, Case{delay, "", std::nullopt},
                          Case{delay, "99999999", std::nullopt}}) {
        SCOPED_TRACE(std::string(c.field.edit) + " " + c.typed);
        result.reset();
        dialog->setMaxRecipients(7);
        dialog->setSendDelay(7);
        fill("127.0.0.1", "25", "2525");
        child<QLineEdit>(dialog.get(), c.field.edit)->setText(QString::fromLatin1(c.typed));
        pressAndWait(ok());
        QMessageBox* box = shownBox();
        if (c.taken) {
            EXPECT_EQ(box, nullptr) << boxText(box);
            EXPECT_EQ(result, QDialog::Accepted);
            EXPECT_EQ((dialog.get()->*c.field.stored)(), *c.taken);
            continue;
        }
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(boxText(box), c.field.refusal);
        box->close();
        EXPECT_FALSE(result.has_value());
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ((dialog.get()->*c.field.stored)(), 7);
    }
}
