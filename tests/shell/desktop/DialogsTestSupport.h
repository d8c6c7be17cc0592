// Helpers for the dialog tests: waiting for the GUI thread to catch up,
// finding the message box a dialog opened, and a private config folder.
#pragma once

#include "support/TempDir.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <filesystem>
#include <string>

namespace pelorus::test {

// Runs the event loop until the condition holds (a generous bound stops a
// broken test from hanging; it is no timing assertion).
template <class Condition>
bool eventually(Condition condition)
{
    return QTest::qWaitFor(condition, 60000);
}

// The message box that is shown, or nullptr.
inline QMessageBox* shownBox()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible())
            return box;
    return nullptr;
}

// Waits for a message box and returns it.
inline QMessageBox* waitForBox()
{
    QMessageBox* box = nullptr;
    eventually([&] { return (box = shownBox()) != nullptr; });
    return box;
}

// The box's text with line ends as the program writes them.
inline std::string boxText(const QMessageBox* box)
{
    return box->text().replace(QLatin1String("\n"), QLatin1String("\r\n")).toStdString();
}

// Presses a button of the box and lets the answer arrive.
inline void answer(QMessageBox* box, QMessageBox::StandardButton which)
{
    box->button(which)->click();
    QApplication::processEvents();
}

template <class T = QWidget>
T* child(QWidget* parent, const char* id)
{
    return parent->findChild<T*>(QLatin1String(id));
}

// A config folder of its own for every test: settings and list files.
struct PrivateConfig {
    TempDir dir;
    ScopedEnv config{"XDG_CONFIG_HOME", dir.path()};
    std::string folder = dir / "Pelorus";
    std::string domainFile = folder + "/TrustedDomain.pel";
    std::string recipientFile = folder + "/TrustedRecipient.plx";
    PrivateConfig() { std::filesystem::create_directory(folder); }
};

} // namespace pelorus::test
