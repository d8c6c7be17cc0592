// TrayApplication: the main window of the desktop shell and its tray icon.
//
// The main window ("Pelorus", 500x300, menu 109) stays hidden while the icon
// sits in a tray; closing or minimising it only hides it. The tray icon
// (icon 110, tip "Pelorus") carries menu 129 as its context menu, and a left
// click or a double click pops the same menu up at the cursor.
//
// A tray is a StatusNotifierWatcher with a registered host on the session
// bus, or an XEmbed tray that Qt finds. start() looks for one and keeps
// looking for up to the wait limit (10 s); when none turned up, the main
// window is shown instead, its menus gain "Pelorus Filters(&F)" and
// "Pelorus Help(&H)", and closing it minimises it, so every command stays
// reachable. A tray that appears later gets the icon and the window is hidden
// again; a watcher that goes away starts the wait anew.
//
// On X11 Qt draws the icon and decides between StatusNotifier and XEmbed
// once per process, at the first look: a tray that only speaks
// StatusNotifier and turns up after a first look found none cannot show
// the icon, so there Qt's verdict decides and the window stays.
//
// While a mail is held, the tray menu and the main window's File menu open
// with an entry "Undo sending 'SUBJECT'" for it (the subject escaped and cut
// as in the notices), above a separator; triggering it undoes that mail
// (HeldMails::undo). addHeldMail() and removeHeldMail() follow the holds.
//
// The commands Properties, Filters and Exit are handed to the functions the
// program gives; Version, Help and Show are done here. Only the GUI thread
// touches this object.
#pragma once

#include "relay/HeldMails.h"
#include "shell/desktop/VersionDialog.h"

#include <QDBusConnection>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <map>

class QAction;
class QDBusServiceWatcher;
class QMenu;

namespace MAIL {

struct TrayCommands {
    std::function<void()> properties;  // opens Properties (full form)
    std::function<void()> filters;     // opens Filters
    std::function<void()> exit;        // ends the program
    // Opens a document; QDesktopServices::openUrl when empty.
    std::function<bool(const QUrl&)> openUrl;
};

struct TrayWaitOptions {
    // One look for a tray every interval, for at most limit milliseconds
    // before the window is shown instead. Tests count the looks themselves
    // (pollByTimer false, pollTray()) instead of waiting.
    int intervalMilliseconds = 500;
    int limitMilliseconds = 10000;
    bool pollByTimer = true;
    // The bus the StatusNotifierWatcher is looked for on.
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Qt's verdict on the tray (QSystemTrayIcon::isSystemTrayAvailable on
    // X11, where Qt draws the icon through either protocol); empty for the
    // default. Where Qt has no verdict of its own (false on other
    // platforms), a watcher with a registered host counts as the tray.
    std::function<bool()> qtTray;
    bool qtDecides = false;  // set by the default on X11
};

class TrayApplication : public QMainWindow {
    Q_OBJECT
public:
    enum class TrayState { Waiting, InTray, Fallback };

    static constexpr const char* WatcherService = "org.kde.StatusNotifierWatcher";
    static constexpr const char* WatcherPath = "/StatusNotifierWatcher";
    static constexpr const char* Tip = "Pelorus";

    explicit TrayApplication(TrayCommands commands, TrayWaitOptions wait = {});
    ~TrayApplication() override;

    // Starts looking for a tray.
    void start();
    // One look for a tray; counts one interval of the wait.
    void pollTray();

    TrayState trayState() const { return state_; }
    // The tray icon once a tray was found; null before.
    QSystemTrayIcon* trayIcon() const { return trayIcon_; }
    QMenu* trayMenu() const { return trayMenu_; }

    // Commands of the menus.
    void showProperties();
    void showFilters();
    void showHelp();
    // The Version dialog; when it is open already it is raised, with a
    // beep when asked from the tray.
    void showVersion(bool beepWhenOpen);
    void exitProgram();
    // Brings the main window to the front.
    void showWindow();
    VersionDialog* versionDialog() const { return versionDialog_; }

    // A held mail's Undo entries in both menus, and their removal.
    void addHeldMail(const MAIL::HeldMail& mail);
    void removeHeldMail(const MAIL::HeldMail& mail);

    // Lets the window close for real (the program is ending).
    void allowClose() { closing_ = true; }

    // The help page: ../share/pelorus/html/Pelorus.html beside the
    // executable, else the copy in the source tree.
    static QString helpPagePath();

signals:
    // A tray was found and the icon made (once).
    void trayIconReady(QSystemTrayIcon* icon);
    void trayStateChanged(MAIL::TrayApplication::TrayState state);

private slots:
    // The watcher's StatusNotifierHostRegistered signal.
    void onHostRegistered();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildMenus();
    QAction* addCommand(QMenu* menu, const char* text, const char* id, void (TrayApplication::*slot)());
    void askWatcher();
    void hostAnswered(bool registered);
    bool trayUsable();
    void trayFound();
    void trayLost();
    void fallBack();
    void setState(TrayState state);
    void popUpTrayMenu(QSystemTrayIcon::ActivationReason reason);

    TrayCommands commands_;
    TrayWaitOptions wait_;
    TrayState state_ = TrayState::Waiting;
    int waited_ = 0;
    bool asking_ = false;     // a question to the watcher is on its way
    bool askAgain_ = false;   // and another one is due once it is answered
    bool hostSeen_ = false;   // the watcher last said a host is registered
    bool closing_ = false;
    QTimer poll_;
    QDBusServiceWatcher* watcher_ = nullptr;
    QSystemTrayIcon* trayIcon_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QAction* fallbackFilters_ = nullptr;
    QAction* fallbackHelp_ = nullptr;
    // Below the Undo entries of each menu; shown while there are any.
    QAction* fileHeldEnd_ = nullptr;
    QAction* trayHeldEnd_ = nullptr;
    std::map<int, std::pair<QAction*, QAction*>> heldEntries_;  // number -> file, tray
    QPointer<VersionDialog> versionDialog_;
};

} // namespace MAIL
