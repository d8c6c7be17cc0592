// A filter folder the user cannot write to: saving shows which file failed
// and why, and the dialog stays open with its rows. The dialog runs in a
// child process as an ordinary user (root would write anyway), so this
// executable makes no QApplication of its own before the fork.
#include "support/TempDir.h"
#include "support/Unprivileged.h"
#include "shell/desktop/FiltersDialog.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace pelorus::test;

namespace {

QMessageBox* waitForBox()
{
    QMessageBox* found = nullptr;
    (void)QTest::qWaitFor(
        [&] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible())
                    found = box;
            return found != nullptr;
        },
        60000);
    return found;
}

// The steps in the child; the number of the failed step, 0 when all pass.
int saveIntoAReadOnlyFolder(const std::string& folder)
{
    if (::chmod(folder.c_str(), 0500) != 0)
        return 2;
    int argc = 1;
    char name[] = "dialogs_readonly_tests";
    char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    MAIL::FiltersDialog dialog;
    bool finished = false;
    QObject::connect(&dialog, &QDialog::finished, [&] { finished = true; });
    dialog.present();
    dialog.findChild<QLineEdit*>("1008")->setText("new.example");
    dialog.findChild<QPushButton*>("1015")->click();
    dialog.findChild<QPushButton*>("1")->click();
    QMessageBox* question = waitForBox();
    if (question == nullptr)
        return 3;
    question->button(QMessageBox::Yes)->click();
    QApplication::processEvents();
    QMessageBox* error = waitForBox();
    if (error == nullptr || error == question)
        return 4;
    const std::string text = error->text().toStdString();
    if (text.find(folder + "/TrustedDomain.pel") == std::string::npos ||
        text.find("Permission denied") == std::string::npos || error->windowTitle() != "Pelorus" ||
        error->icon() != QMessageBox::Critical)
        return 5;
    if (text.find("TrustedRecipient") != std::string::npos)
        return 7;  // a list without rows and without a file needs no removing
    error->button(QMessageBox::Ok)->click();
    QApplication::processEvents();
    auto* list = dialog.findChild<QTreeWidget*>("1022");
    if (finished || !dialog.isVisible() || list->topLevelItemCount() != 2 ||
        list->topLevelItem(0)->text(0) != "new.example")
        return 6;
    return 0;
}

TEST(FiltersReadOnly, ASaveIntoAReadOnlyFolderShowsTheFileAndKeepsTheDialog)
{
    TempDir dir;
    ScopedEnv config("XDG_CONFIG_HOME", dir.path());
    const std::string folder = dir / "Pelorus";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    writeFile(folder + "/TrustedDomain.pel", "kept.example\n");
    const int result = runAsUser([&] { return saveIntoAReadOnlyFolder(folder); }, {dir.path()});
    ::chmod(folder.c_str(), 0700);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readFile(folder + "/TrustedDomain.pel"), "kept.example\n");
}

} // namespace
