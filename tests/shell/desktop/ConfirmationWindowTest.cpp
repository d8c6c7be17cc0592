// The confirmation window on its own: the controls and what they show,
// the confirmation box guarding OK, every way the window ends, and the
// countdown driven tick by tick.
#include "shell/desktop/ConfirmationWindow.h"
#include "shell/desktop/Icons.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using MAIL::ConfirmationContent;
using MAIL::ConfirmationRow;
using MAIL::ConfirmationWindow;

namespace {

ConfirmationContent sampleContent(int timeout = 50)
{
    ConfirmationContent content;
    content.subject = "quarterly figures";
    content.to = {{"Ann <ann@evil.example>", "x", true}, {"bob@corp.example", "", false}};
    content.cc = {{"carol@corp.example", "", false}};
    content.attachments = {{"report.docx", "x", true}, {"plan.pdf", "PWD", false}, {"memo.docx", "IRM", false}};
    content.security = {{"IRM unprotected", "x", true}, {"S/MIME encrypted", "", false}};
    content.message = "Warning:Found unauthorized recipients\r\nThis mail is not encrypted.";
    content.countdown = MAIL::Countdown(timeout);
    return content;
}

std::unique_ptr<ConfirmationWindow> openWindow(ConfirmationContent content = sampleContent())
{
    auto window = std::make_unique<ConfirmationWindow>(std::move(content), ConfirmationWindow::Clock::Manual);
    window->showOnTop();
    return window;
}

template <typename T> T* control(QWidget& window, const char* id)
{
    T* found = window.findChild<T*>(QString::fromLatin1(id));
    EXPECT_NE(found, nullptr) << "control " << id;
    return found;
}

bool sameIcon(const QIcon& shown, int id)
{
    return !shown.isNull() && shown.pixmap(24, 24).toImage() == MAIL::pelorusIcon(id).pixmap(24, 24).toImage();
}

} // namespace

TEST(ConfirmationWindow, ShowsTheResourceLayoutWithItsIds)
{
    auto window = openWindow();
    EXPECT_EQ(window->windowTitle(), "Recipients Confirmation - Pelorus");
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(window->isVisible());
    const struct {
        const char* id;
        const char* first;
        const char* second;
    } lists[] = {{"1007", "Recipients", "Authorized"}, {"1004", "Recipients", "Authorized"},
                 {"1005", "Recipients", "Authorized"}, {"1012", "Filename", "Encryption"},
                 {"1013", "Message", "Encryption"}};
    for (const auto& list : lists) {
        auto* tree = control<QTreeWidget>(*window, list.id);
        ASSERT_NE(tree, nullptr);
        EXPECT_EQ(tree->headerItem()->text(0), list.first) << list.id;
        EXPECT_EQ(tree->headerItem()->text(1), list.second) << list.id;
        EXPECT_EQ(tree->columnWidth(0), 360) << list.id;
        EXPECT_EQ(tree->columnWidth(1), 84) << list.id;
        EXPECT_EQ(tree->iconSize(), QSize(24, 24)) << list.id;
    }
    EXPECT_EQ(control<QCheckBox>(*window, "1019")->text(),
              "Are you sure you want to send this mail? If 'Yes', please check the box.");
    EXPECT_EQ(control<QPushButton>(*window, "1")->text(), "OK");
    EXPECT_EQ(control<QPushButton>(*window, "2")->text(), "Cancel");
    EXPECT_FALSE(control<QLabel>(*window, "11")->pixmap().isNull());
    EXPECT_EQ(control<QLabel>(*window, "1011")->text(),
              "Warning:Found unauthorized recipients\nThis mail is not encrypted.");
    EXPECT_EQ(control<QLabel>(*window, "1018")->text(), "This mail is automatically cancelled in (60) seconds.");
}

TEST(ConfirmationWindow, FlaggedRowsAreRedWithTheWarningIcon)
{
    auto window = openWindow();
    const QColor red(255, 0, 0);
    const struct {
        const char* list;
        int row;
        const char* first;
        const char* second;
        bool flagged;
        int icon;
    } expected[] = {
        {"1007", 0, "Ann <ann@evil.example>", "x", true, 111}, {"1007", 1, "bob@corp.example", "", false, 108},
        {"1004", 0, "carol@corp.example", "", false, 108},     {"1012", 0, "report.docx", "x", true, 115},
        {"1012", 1, "plan.pdf", "PWD", false, 114},            {"1012", 2, "memo.docx", "IRM", false, 114},
        {"1013", 0, "IRM unprotected", "x", true, 113},        {"1013", 1, "S/MIME encrypted", "", false, 112},
    };
    for (const auto& row : expected) {
        SCOPED_TRACE(std::string(row.list) + " row " + std::to_string(row.row));
        auto* tree = control<QTreeWidget>(*window, row.list);
        ASSERT_NE(tree, nullptr);
        QTreeWidgetItem* item = tree->topLevelItem(row.row);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->text(0), row.first);
        EXPECT_EQ(item->text(1), row.second);
        EXPECT_TRUE(sameIcon(item->icon(0), row.icon));
        for (int column : {0, 1}) {
            if (row.flagged)
                EXPECT_EQ(item->foreground(column).color(), red);
            else
                EXPECT_EQ(item->foreground(column).style(), Qt::NoBrush);  // the default colours
        }
    }
    EXPECT_EQ(control<QTreeWidget>(*window, "1005")->topLevelItemCount(), 0);
}

TEST(ConfirmationWindow, CautionRowsAreRedWithTheirFlagWords)
{
    ConfirmationContent content = sampleContent();
    content.to = {{"boss@rival.example", "x new caution", true}};
    content.attachments = {{"server.key", "PWD caution", true}};
    auto window = openWindow(std::move(content));
    for (const auto& [list, flags] : {std::pair{"1007", "x new caution"}, std::pair{"1012", "PWD caution"}}) {
        QTreeWidgetItem* item = control<QTreeWidget>(*window, list)->topLevelItem(0);
        ASSERT_NE(item, nullptr) << list;
        EXPECT_EQ(item->text(1), flags);
        EXPECT_EQ(item->foreground(1).color(), QColor(255, 0, 0)) << list;
    }
}

TEST(ConfirmationWindow, EmptyToListIsDisabledButEmptyCcAndBccAreNot)
{
    ConfirmationContent content = sampleContent();
    content.to.clear();
    content.toEnabled = false;
    content.cc.clear();
    auto window = openWindow(std::move(content));
    EXPECT_FALSE(control<QTreeWidget>(*window, "1007")->isEnabled());
    EXPECT_TRUE(control<QTreeWidget>(*window, "1004")->isEnabled());
    EXPECT_TRUE(control<QTreeWidget>(*window, "1005")->isEnabled());
}

TEST(ConfirmationWindow, MarkupFromTheMailIsShownLiterally)
{
    const std::string markup = "<b>x</b><img src=\"file:///etc/passwd\">";
    ConfirmationContent content = sampleContent();
    content.subject = markup;
    content.message = markup;
    content.to = {{markup, "x", true}};
    auto window = openWindow(std::move(content));
    EXPECT_EQ(control<QLineEdit>(*window, "1000")->text().toStdString(), markup);
    auto* message = control<QLabel>(*window, "1011");
    EXPECT_EQ(message->textFormat(), Qt::PlainText);
    EXPECT_EQ(message->text().toStdString(), markup);
    EXPECT_EQ(control<QTreeWidget>(*window, "1007")->topLevelItem(0)->text(0).toStdString(), markup);
}

TEST(ConfirmationWindow, OkIsEnabledExactlyWhileTheBoxIsChecked)
{
    auto window = openWindow();
    auto* box = control<QCheckBox>(*window, "1019");
    auto* ok = control<QPushButton>(*window, "1");
    EXPECT_FALSE(ok->isEnabled());
    ok->click();
    QTest::keyClick(window.get(), Qt::Key_Return);  // the default button, still disabled
    EXPECT_FALSE(window->hasEnded());

    box->click();
    EXPECT_TRUE(ok->isEnabled());
    box->click();
    EXPECT_FALSE(ok->isEnabled());
    ok->click();
    EXPECT_FALSE(window->hasEnded());

    QTest::keyClick(box, Qt::Key_Space);  // the keyboard checks it as well
    EXPECT_TRUE(ok->isEnabled());
    QSignalSpy finished(window.get(), &QDialog::finished);
    ok->click();
    EXPECT_TRUE(window->hasEnded());
    EXPECT_EQ(window->answer(), 1);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(window->isVisible());
}

// Every end but the enabled OK button answers 2, even with the box checked.
struct Ending {
    const char* name;
    std::function<void(ConfirmationWindow&)> end;
};

void PrintTo(const Ending& ending, std::ostream* os) { *os << ending.name; }

class ConfirmationWindowEnding : public testing::TestWithParam<std::tuple<Ending, bool>> {};

TEST_P(ConfirmationWindowEnding, AnswersCancel)
{
    const auto& [ending, checked] = GetParam();
    auto window = openWindow();
    if (checked)
        control<QCheckBox>(*window, "1019")->click();
    QSignalSpy finished(window.get(), &QDialog::finished);
    ending.end(*window);
    EXPECT_TRUE(window->hasEnded());
    EXPECT_EQ(window->answer(), 2);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(window->isVisible());
}

const Ending Endings[] = {
    {"CancelButton", [](ConfirmationWindow& w) { w.findChild<QPushButton*>("2")->click(); }},
    {"Escape", [](ConfirmationWindow& w) { QTest::keyClick(&w, Qt::Key_Escape); }},
    {"CloseBox", [](ConfirmationWindow& w) { w.close(); }},
    {"Rejected", [](ConfirmationWindow& w) { w.done(QDialog::Rejected); }},
    {"AcceptedFromOutside", [](ConfirmationWindow& w) { w.done(QDialog::Accepted); }},
    {"Cancel", [](ConfirmationWindow& w) { w.cancel(); }},
};

INSTANTIATE_TEST_SUITE_P(Endings, ConfirmationWindowEnding, testing::Combine(testing::ValuesIn(Endings), testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_BoxChecked" : "_BoxUnchecked");
                         });

class ConfirmationWindowCountdown : public testing::TestWithParam<int> {};

TEST_P(ConfirmationWindowCountdown, CountsDownThenCancelsOnTheTickAfterZero)
{
    const int timeout = GetParam();
    auto window = openWindow(sampleContent(timeout));
    auto* label = control<QLabel>(*window, "1018");
    for (int tick = 1; tick <= timeout; ++tick) {
        window->tick();
        ASSERT_FALSE(window->hasEnded()) << "tick " << tick;
        EXPECT_EQ(label->text().toStdString(),
                  "This mail is automatically cancelled in (" + std::to_string(timeout - tick) + ") seconds.");
    }
    window->tick();
    EXPECT_TRUE(window->hasEnded());
    EXPECT_EQ(window->answer(), 2);
}

INSTANTIATE_TEST_SUITE_P(Timeouts, ConfirmationWindowCountdown, testing::Values(31, 50, 299));

TEST(ConfirmationWindow, CheckedBoxDoesNotStopTheCountdown)
{
    auto window = openWindow(sampleContent(31));
    control<QCheckBox>(*window, "1019")->click();
    for (int tick = 0; tick <= 31; ++tick)
        window->tick();
    EXPECT_TRUE(window->hasEnded());
    EXPECT_EQ(window->answer(), 2);
    // A click that arrives after the end changes nothing.
    control<QPushButton>(*window, "1")->click();
    EXPECT_EQ(window->answer(), 2);
}

TEST(ConfirmationWindow, RunningClockTicksEverySecondUntilTheEnd)
{
    ConfirmationWindow window(sampleContent(), ConfirmationWindow::Clock::Running);
    auto* timer = window.findChild<QTimer*>();
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->isActive());
    window.showOnTop();
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1000);
    window.cancel();
    EXPECT_FALSE(timer->isActive());

    auto manual = openWindow();
    EXPECT_FALSE(manual->findChild<QTimer*>()->isActive());
}

TEST(ConfirmationWindow, ANewRecipientOfTheModelIsRedWithXNew)
{
    MAIL::AddressConfirmationDialog model;  // no authorized domain: every address is outside
    model.setTo("Eve <eve@evil.example>");
    model.setNewRecipients({"EVE@evil.example"});
    auto window = openWindow(ConfirmationContent::from(model));
    QTreeWidgetItem* item = control<QTreeWidget>(*window, "1007")->topLevelItem(0);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(1), "x new");
    EXPECT_EQ(item->foreground(0).color(), QColor(255, 0, 0));
}

int main(int argc, char** argv)
{
    // ctest lists the tests without the suite's environment: never a display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // The icons live in a static library: its resources are linked only
    // when named.
    Q_INIT_RESOURCE(icons);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Each flagged recipient row carries its own box; OK waits for the main box
// and every row's box, and Enter does not get past a missing one.
TEST(ConfirmationWindow, OkWaitsForEveryFlaggedRecipientBox)
{
    ConfirmationContent content = sampleContent();
    content.confirmEachRecipient = true;
    content.bcc = {{"eve@evil.example", "x new", true}};
    auto window = openWindow(std::move(content));
    auto* ok = control<QPushButton>(*window, "1");
    QTreeWidgetItem* ann = control<QTreeWidget>(*window, "1007")->topLevelItem(0);
    QTreeWidgetItem* bob = control<QTreeWidget>(*window, "1007")->topLevelItem(1);
    QTreeWidgetItem* eve = control<QTreeWidget>(*window, "1005")->topLevelItem(0);
    ASSERT_TRUE(ok && ann && bob && eve);
    EXPECT_EQ(bob->data(0, Qt::CheckStateRole), QVariant()) << "a trusted row has no box";
    control<QCheckBox>(*window, "1019")->setChecked(true);
    EXPECT_FALSE(ok->isEnabled());
    ann->setCheckState(0, Qt::Checked);
    EXPECT_FALSE(ok->isEnabled());
    window->accept();
    EXPECT_FALSE(window->hasEnded());
    eve->setCheckState(0, Qt::Checked);
    EXPECT_TRUE(ok->isEnabled());
    ann->setCheckState(0, Qt::Unchecked);
    EXPECT_FALSE(ok->isEnabled());
    ann->setCheckState(0, Qt::Checked);
    ok->click();
    EXPECT_EQ(window->answer(), 1);
}
