// The Filters dialog against real list files in a private config folder:
// the order rows show and are saved in, the duplicate refusal, the change
// counters, the questions, saving or removing the files, and the Caution
// page with organisation-wide entries.
#include "DialogsTestSupport.h"
#include "shell/desktop/FiltersDialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <optional>
#include <vector>

using MAIL::FiltersDialog;
using namespace pelorus::test;

namespace {

using Rows = std::vector<std::string>;

class Filters : public testing::Test {
protected:
    PrivateConfig config;
    std::unique_ptr<FiltersDialog> dialog;
    std::optional<int> result;

    void open()
    {
        dialog = std::make_unique<FiltersDialog>();
        QObject::connect(dialog.get(), &QDialog::finished, [this](int r) { result = r; });
        dialog->present();
    }
    QTreeWidget* domains() { return child<QTreeWidget>(dialog.get(), "1022"); }
    QTreeWidget* recipients() { return child<QTreeWidget>(dialog.get(), "1023"); }

    static Rows rowsOf(QTreeWidget* list)
    {
        Rows rows;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            rows.push_back(list->topLevelItem(i)->text(0).toStdString());
        return rows;
    }
    void add(const char* edit, const char* button, const QString& text)
    {
        child<QLineEdit>(dialog.get(), edit)->setText(text);
        child<QPushButton>(dialog.get(), button)->click();
    }
    void addDomain(const QString& text) { add("1008", "1015", text); }
    void addRecipient(const QString& text) { add("1002", "1016", text); }
    static void tick(QTreeWidget* list, int row) { list->topLevelItem(row)->setCheckState(0, Qt::Checked); }
    void press(const char* id) { child<QPushButton>(dialog.get(), id)->click(); }

    // Presses a button and answers the question it asks.
    void pressAnswering(const char* id, const char* question, QMessageBox::StandardButton reply)
    {
        press(id);
        QMessageBox* box = waitForBox();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), "Pelorus Filters");
        EXPECT_EQ(boxText(box), question);
        EXPECT_EQ(box->icon(), QMessageBox::Question);
        answer(box, reply);
    }
    // Presses OK and answers the save question.
    void saveAnswering(QMessageBox::StandardButton reply)
    {
        pressAnswering("1", "Are you sure to want to save changes to a filter file?", reply);
    }
};

TEST_F(Filters, ShowsAFileReversedAndSavesNewRowsOnTop)
{
    writeFile(config.domainFile, "a\nb\nc\n");
    writeFile(config.recipientFile, "x@example.com\r\ny@example.com\n");
    open();
    EXPECT_EQ(rowsOf(domains()), (Rows{"c", "b", "a"}));
    EXPECT_EQ(rowsOf(recipients()), (Rows{"y@example.com", "x@example.com"}));
    EXPECT_EQ(domains()->headerItem()->text(0), "Domain");
    EXPECT_EQ(recipients()->headerItem()->text(0), "Recipient");
    EXPECT_EQ(domains()->topLevelItem(0)->checkState(0), Qt::Unchecked);
    EXPECT_FALSE(domains()->topLevelItem(0)->icon(0).isNull());
    EXPECT_FALSE(recipients()->topLevelItem(0)->icon(0).isNull());

    addDomain("d");
    EXPECT_EQ(rowsOf(domains()), (Rows{"d", "c", "b", "a"}));
    EXPECT_EQ(child<QLineEdit>(dialog.get(), "1008")->text(), "d");  // the edit keeps its text
    saveAnswering(QMessageBox::Yes);
    ASSERT_TRUE(eventually([&] { return result.has_value(); }));
    EXPECT_EQ(*result, QDialog::Accepted);
    EXPECT_EQ(readFile(config.domainFile), "d\nc\nb\na\n");
    // Both files are written, also the one nobody changed.
    EXPECT_EQ(readFile(config.recipientFile), "y@example.com\nx@example.com\n");
}

TEST_F(Filters, RowsNobodyTouchedKeepTheirBytes)
{
    const std::string latin1 = "caf\xe9.example";  // not UTF-8
    writeFile(config.domainFile, latin1 + "\n" + "b\xff\n");
    open();
    addDomain(QStringLiteral("n\u00e9w.example"));
    saveAnswering(QMessageBox::Yes);
    ASSERT_TRUE(eventually([&] { return result.has_value(); }));
    EXPECT_EQ(readFile(config.domainFile), "n\xc3\xa9w.example\nb\xff\n" + latin1 + "\n");
}

struct DuplicateCase {
    const char* name;
    QString existing;
    QString added;
    bool refused;
};

void PrintTo(const DuplicateCase& c, std::ostream* out) { *out << c.name; }

class Duplicates : public Filters, public testing::WithParamInterface<DuplicateCase> {};

TEST_P(Duplicates, AreRefusedIgnoringCaseButStillCount)
{
    const DuplicateCase& c = GetParam();
    open();
    addDomain(c.existing);
    addDomain(c.added);
    addRecipient(c.existing);
    addRecipient(c.added);
    const std::size_t rows = c.refused ? 1 : 2;
    EXPECT_EQ(rowsOf(domains()).size(), rows);
    EXPECT_EQ(rowsOf(recipients()).size(), rows);
    EXPECT_EQ(dialog->changes().domainAdditions, 2);
    EXPECT_EQ(dialog->changes().recipientAdditions, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, Duplicates,
    testing::Values(DuplicateCase{"SameText", "example.com", "example.com", true},
                    DuplicateCase{"OtherCase", "Example.COM", "example.com", true},
                    DuplicateCase{"OtherCaseBeyondAscii", QStringLiteral("\u00c4rger.de"),
                                  QStringLiteral("\u00e4rger.de"), true},
                    DuplicateCase{"SpacesMakeItOther", "example.com", " example.com", false},
                    DuplicateCase{"Prefix", "example.com", "example.co", false}),
    [](const testing::TestParamInfo<DuplicateCase>& info) { return std::string(info.param.name); });

TEST_F(Filters, EnterInAnInputAddsInsteadOfClosing)
{
    open();
    auto* edit = child<QLineEdit>(dialog.get(), "1002");
    edit->setFocus();
    edit->setText("z@example.com");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(rowsOf(recipients()), (Rows{"z@example.com"}));
    EXPECT_FALSE(result.has_value());
}

TEST_F(Filters, DeleteRemovesTickedRowsAndCountsEvenWithoutAny)
{
    writeFile(config.domainFile, "a\nb\nc\n");
    open();
    press("1020");  // nothing ticked
    EXPECT_EQ(dialog->changes().domainDeletions, 1);
    EXPECT_EQ(rowsOf(domains()).size(), 3u);
    tick(domains(), 0);
    tick(domains(), 2);
    press("1020");
    EXPECT_EQ(rowsOf(domains()), (Rows{"b"}));
    EXPECT_EQ(dialog->changes().domainDeletions, 2);
    EXPECT_EQ(dialog->changes().recipientDeletions, 0);
}

TEST_F(Filters, DeletingEveryRowRemovesTheFileOnSave)
{
    writeFile(config.domainFile, "a\n");
    writeFile(config.recipientFile, "r@example.com\n");
    open();
    tick(domains(), 0);
    press("1020");
    tick(recipients(), 0);
    press("1021");
    saveAnswering(QMessageBox::Yes);
    ASSERT_TRUE(eventually([&] { return result.has_value(); }));
    EXPECT_FALSE(pathExists(config.domainFile));
    EXPECT_FALSE(pathExists(config.recipientFile));
}

TEST_F(Filters, AnEmptyListWithoutAFileCountsAsRemoved)
{
    writeFile(config.domainFile, "a\n");
    open();
    addDomain("b");  // the recipient file never existed
    saveAnswering(QMessageBox::Yes);
    ASSERT_TRUE(eventually([&] { return result.has_value(); }));
    EXPECT_EQ(*result, QDialog::Accepted);
    EXPECT_EQ(shownBox(), nullptr);
    EXPECT_FALSE(pathExists(config.recipientFile));
}

TEST_F(Filters, OkWithoutChangesClosesWithoutWriting)
{
    writeFile(config.domainFile, "a\r\nb\n");
    open();
    press("1");
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, QDialog::Accepted);
    EXPECT_EQ(shownBox(), nullptr);
    EXPECT_EQ(readFile(config.domainFile), "a\r\nb\n");
    EXPECT_FALSE(pathExists(config.domainFile + ".bar"));
    EXPECT_FALSE(pathExists(config.recipientFile));
}

TEST_F(Filters, NoToTheSaveQuestionKeepsTheDialogAndItsRows)
{
    writeFile(config.domainFile, "a\n");
    open();
    addDomain("b");
    saveAnswering(QMessageBox::No);
    EXPECT_FALSE(result.has_value());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(rowsOf(domains()), (Rows{"b", "a"}));
    EXPECT_EQ(dialog->changes().domainAdditions, 1);
    EXPECT_EQ(readFile(config.domainFile), "a\n");
    // Asking again works: the answer was taken.
    saveAnswering(QMessageBox::Yes);
    ASSERT_TRUE(eventually([&] { return result.has_value(); }));
    EXPECT_EQ(readFile(config.domainFile), "b\na\n");
}

TEST_F(Filters, CancelWithChangesAsksAndNoKeepsTheDialog)
{
    writeFile(config.domainFile, "a\n");
    open();
    tick(domains(), 0);
    press("1020");
    press("2");
    QMessageBox* box = waitForBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(boxText(box), "Are you sure to want to close [Pelorus Filters] Dialog?");
    EXPECT_EQ(box->windowTitle(), "Pelorus Filters");
    answer(box, QMessageBox::No);
    EXPECT_FALSE(result.has_value());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(rowsOf(domains()).empty());

    // Escape asks the same; Yes discards.
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    box = waitForBox();
    ASSERT_NE(box, nullptr);
    answer(box, QMessageBox::Yes);
    ASSERT_TRUE(eventually([&] { return result.has_value(); }));
    EXPECT_EQ(*result, QDialog::Rejected);
    EXPECT_EQ(readFile(config.domainFile), "a\n");
}

} // namespace

// Forgetting the sent recipients asks first; yes leaves only a line saying
// since when the history is kept.
TEST_F(Filters, ForgetSentRecipientsAsksThenKeepsOnlyASinceLineOfToday)
{
    ScopedEnv state("XDG_STATE_HOME", config.dir.path());
    const std::string history = config.folder + "/SentRecipients";
    const std::string before = "# since 2020-01-01\nbob@corp.example\t2020-01-02\n";
    writeFile(history, before);
    open();
    const char* question = "Forget every address Pelorus has seen you send to?";
    pressAnswering("1040", question, QMessageBox::No);
    EXPECT_EQ(readFile(history), before);
    pressAnswering("1040", question, QMessageBox::Yes);
    const std::time_t now = std::time(nullptr);
    char today[32];
    std::strftime(today, sizeof today, "# since %Y-%m-%d\n", std::gmtime(&now));
    EXPECT_EQ(readFile(history), today);
    EXPECT_FALSE(dialog->changes().any());
    EXPECT_FALSE(result.has_value()) << "the dialog stays open";
}

// The Caution page keeps its own two lists; organisation-wide entries show
// greyed without a check box, refuse a duplicate and are never written.
TEST_F(Filters, CautionPageAndOrganisationEntries)
{
    TempDir organisation;
    ScopedEnv folders("XDG_CONFIG_DIRS", organisation.path());
    std::filesystem::create_directory(organisation / "Pelorus");
    writeFile(organisation / "Pelorus/CautionDomain.pel", "org.example\n");
    writeFile(organisation / "Pelorus/TrustedDomain.pel", "corp.example\n");
    writeFile(config.folder + "/CautionDomain.pel", "rival.example\n");
    open();
    auto* pages = dialog->findChild<QTabWidget*>();
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(pages->tabText(1), "Caution");
    auto* cautions = child<QTreeWidget>(dialog.get(), "1032");
    auto* attachments = child<QTreeWidget>(dialog.get(), "1036");
    EXPECT_EQ(rowsOf(cautions), (Rows{"rival.example", "org.example"}));
    EXPECT_EQ(rowsOf(domains()), Rows{"corp.example"}) << "on the page of its list";
    QTreeWidgetItem* fixed = cautions->topLevelItem(1);
    EXPECT_FALSE(fixed->flags() & (Qt::ItemIsEnabled | Qt::ItemIsUserCheckable));
    EXPECT_FALSE(fixed->data(0, Qt::CheckStateRole).isValid()) << "no check box";

    add("1030", "1031", "ORG.example");
    add("1030", "1031", "mail.example");
    add("1034", "1035", ".key");
    EXPECT_EQ(rowsOf(cautions), (Rows{"mail.example", "rival.example", "org.example"}));
    tick(cautions, 1);
    press("1033");
    EXPECT_EQ(rowsOf(cautions), (Rows{"mail.example", "org.example"}));
    EXPECT_EQ(rowsOf(attachments), Rows{".key"});
    EXPECT_EQ(dialog->changes().cautionDomainAdditions, 2);
    saveAnswering(QMessageBox::Yes);
    ASSERT_TRUE(eventually([&] { return result.has_value(); }));
    EXPECT_EQ(readFile(config.folder + "/CautionDomain.pel"), "mail.example\n");
    EXPECT_EQ(readFile(config.folder + "/CautionAttachment.pel"), ".key\n");
    EXPECT_FALSE(pathExists(config.domainFile)) << "an organisation entry is not the user's";
    EXPECT_EQ(readFile(organisation / "Pelorus/CautionDomain.pel"), "org.example\n");
}
