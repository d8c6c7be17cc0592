// pelorus_screenshots: opens each window of the desktop shell with sample
// content and writes a PNG of it, for the README.
//
//   pelorus_screenshots FOLDER [NAME...]
//
// NAME is one of confirmation, filters, properties, version, tray-menu,
// main-window (all when none is given); FOLDER/NAME.png is written. It is
// meant to run on an X server with a window manager (scripts/screenshots
// starts both), so that the pictures carry the window frames; the lists of
// the Filters dialog come from the settings folder the caller sets up.
// Returns 0 when every picture was written.
#include "relay/AddressConfirmationDialog.h"
#include "relay/ConfirmationPresenter.h"
#include "shell/desktop/ConfirmationWindow.h"
#include "shell/desktop/FiltersDialog.h"
#include "shell/desktop/Icons.h"
#include "shell/desktop/PropertiesDialog.h"
#include "shell/desktop/TrayApplication.h"
#include "shell/desktop/VersionDialog.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QMargins>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QWidget>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace {

using namespace MAIL;

// Lets the window manager map and decorate what was shown.
void settle(int milliseconds = 1200)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
}

// The window with its frame, as the screen shows it.
bool grab(QWidget* window, const QString& file)
{
    settle();
    // A top-level window is ready once the window manager has framed it;
    // one that was mapped while the manager looked elsewhere is shown anew.
    const auto framed = [window] {
        return (window->windowFlags() & Qt::Popup) == Qt::Popup ||
               window->frameGeometry().size() != window->geometry().size();
    };
    for (int attempt = 0; attempt < 3 && !framed(); ++attempt) {
        QElapsedTimer clock;
        clock.start();
        while (!framed() && clock.elapsed() < 2000)
            settle(100);
        if (!framed()) {
            window->hide();
            settle(300);
            window->show();
            settle();
        }
    }
    // Qt sometimes forgets the frame of a window the manager has just moved;
    // every window here carries the same frame, so the last one seen serves.
    static QMargins seen;
    QRect frame = window->frameGeometry();
    const QMargins margins(window->geometry().left() - frame.left(), window->geometry().top() - frame.top(),
                           frame.right() - window->geometry().right(),
                           frame.bottom() - window->geometry().bottom());
    if (!margins.isNull())
        seen = margins;
    else if ((window->windowFlags() & Qt::Popup) != Qt::Popup)
        frame = window->geometry().marginsAdded(seen);
    QScreen* screen = window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
    if (frame.width() < 50 || frame.height() < 50)
        return false;  // not laid out yet: the caller tries once more
    const QPixmap picture = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    return !picture.isNull() && picture.save(file, "PNG");
}

ConfirmationContent sampleConfirmation()
{
    ConfirmationContent content;
    content.subject = "Quarterly figures (draft)";
    content.to = {{"Bob Miller <bob@corp.example>", "", false}, {"carol@corp.example", "", false}};
    content.cc = {{"dave@partner.example", "x", true}};
    content.bcc = {{"eve@elsewhere.example", "x", true}};
    content.attachments = {{"figures-q3.xlsx", "PWD", false}, {"notes.txt", "x", true}};
    content.security = {{"IRM unprotected", "x", true}, {"S/MIME unencrypted", "x", true}};
    content.message = "Warning:Found unauthorized recipients.\r\ndave@partner.example, eve@elsewhere.example";
    content.countdown = Countdown(50);
    return content;
}

using Shot = std::function<bool(const QString& file)>;

std::map<std::string, Shot> shots()
{
    std::map<std::string, Shot> all;
    all["confirmation"] = [](const QString& file) {
        ConfirmationWindow window(sampleConfirmation(), ConfirmationWindow::Clock::Manual);
        window.showOnTop();
        return grab(&window, file);
    };
    all["filters"] = [](const QString& file) {
        FiltersDialog dialog;
        dialog.present();
        return grab(&dialog, file);
    };
    all["properties"] = [](const QString& file) {
        PropertiesDialog dialog;
        dialog.setServer("smtp.example.org");
        dialog.setPort(587);
        dialog.setSecurity("starttls");
        dialog.setProxyPort(2525);
        dialog.setAllowed("corp.example;partner.example");
        dialog.present();
        return grab(&dialog, file);
    };
    all["version"] = [](const QString& file) {
        VersionDialog dialog;
        dialog.show();
        return grab(&dialog, file);
    };
    all["tray-menu"] = [](const QString& file) {
        TrayApplication app({});
        app.trayMenu()->popup(QPoint(40, 40));
        const bool written = grab(app.trayMenu(), file);
        app.trayMenu()->hide();  // gives the pointer back before the next window
        settle(300);
        return written;
    };
    all["main-window"] = [](const QString& file) {
        // The window that stands in for the tray, its File menu open.
        TrayWaitOptions wait;
        wait.pollByTimer = false;
        wait.limitMilliseconds = 0;
        wait.bus = QDBusConnection(QStringLiteral("none"));
        wait.qtTray = [] { return false; };
        TrayApplication app({}, std::move(wait));
        app.start();
        app.pollTray();
        settle();
        QMenu* menu = app.menuBar()->actions().front()->menu();
        menu->popup(app.mapToGlobal(app.menuBar()->geometry().bottomLeft()));
        settle(300);
        const QRect frame = app.frameGeometry().united(menu->geometry());
        const QPixmap picture =
            app.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        menu->hide();
        settle(300);
        return !picture.isNull() && picture.save(file, "PNG");
    };
    return all;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs("usage: pelorus_screenshots FOLDER [NAME...]\n", stderr);
        return 2;
    }
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(pelorusIcon(107));
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const std::map<std::string, Shot> all = shots();
    std::map<std::string, Shot> chosen;
    for (int i = 2; i < argc; ++i) {
        const auto shot = all.find(argv[i]);
        if (shot == all.end()) {
            std::fprintf(stderr, "pelorus_screenshots: no picture named %s\n", argv[i]);
            return 2;
        }
        chosen.insert(*shot);
    }
    if (chosen.empty())
        chosen = all;
    int status = 0;
    for (const auto& [name, shot] : chosen) {
        const QString file = folder.filePath(QString::fromStdString(name) + QStringLiteral(".png"));
        if (shot(file) || shot(file)) {
            std::printf("%s\n", qPrintable(file));
        } else {
            std::fprintf(stderr, "pelorus_screenshots: could not write %s\n", qPrintable(file));
            status = 1;
        }
    }
    return status;
}
