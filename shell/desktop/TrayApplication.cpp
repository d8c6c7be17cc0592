#include "shell/desktop/TrayApplication.h"

#include "relay/SessionText.h"
#include "shell/desktop/Beep.h"
#include "shell/desktop/Icons.h"
#include "shell/desktop/VersionDialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>

namespace MAIL {

namespace {

bool onX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

} // namespace

TrayApplication::TrayApplication(TrayCommands commands, TrayWaitOptions wait)
    : commands_(std::move(commands)), wait_(std::move(wait))
{
    if (!wait_.qtTray) {
        // On X11 Qt finds both StatusNotifier and XEmbed trays and draws the
        // icon through whichever it found; its choice of protocol is made
        // once per process, so its verdict is the one that counts there.
        wait_.qtDecides = onX11();
        wait_.qtTray = [] { return onX11() && QSystemTrayIcon::isSystemTrayAvailable(); };
    }
    setObjectName(QStringLiteral("PELORUSAPP"));
    setWindowTitle(QStringLiteral("Pelorus"));
    setWindowIcon(pelorusIcon(107));
    resize(500, 300);
    buildMenus();
    poll_.setInterval(wait_.intervalMilliseconds);
    connect(&poll_, &QTimer::timeout, this, &TrayApplication::pollTray);
}

TrayApplication::~TrayApplication() = default;

QAction* TrayApplication::addCommand(QMenu* menu, const char* text, const char* id,
                                     void (TrayApplication::*slot)())
{
    QAction* action = menu->addAction(QString::fromUtf8(text));
    action->setObjectName(QString::fromLatin1(id));
    connect(action, &QAction::triggered, this, slot);
    return action;
}

void TrayApplication::buildMenus()
{
    // Menu 109 of the main window.
    QMenu* file = menuBar()->addMenu(QStringLiteral("File(&F)"));
    file->setObjectName(QStringLiteral("File"));
    fileHeldEnd_ = file->addSeparator();
    fileHeldEnd_->setVisible(false);
    addCommand(file, "Properties(&P)", "32777", &TrayApplication::showProperties);
    fallbackFilters_ = addCommand(file, "Pelorus Filters(&F)", "32786", &TrayApplication::showFilters);
    addCommand(file, "Exit(&X)", "105", &TrayApplication::exitProgram);
    QMenu* help = menuBar()->addMenu(QStringLiteral("Help(&H)"));
    help->setObjectName(QStringLiteral("Help"));
    fallbackHelp_ = addCommand(help, "Pelorus Help(&H)", "32783", &TrayApplication::showHelp);
    QAction* version = help->addAction(QStringLiteral("Version(&A)..."));
    version->setObjectName(QStringLiteral("104"));
    // Accelerators 109: Alt+? and Alt+/ open the Version dialog.
    version->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_Question), QKeySequence(Qt::ALT | Qt::Key_Slash)});
    connect(version, &QAction::triggered, this, [this] { showVersion(false); });
    // The extra entries only show while the window stands in for the tray.
    fallbackFilters_->setVisible(false);
    fallbackHelp_->setVisible(false);

    // Menu 129 of the tray icon.
    trayMenu_ = new QMenu(QStringLiteral("TaskTrayMenu"), this);
    trayMenu_->setObjectName(QStringLiteral("129"));
    trayHeldEnd_ = trayMenu_->addSeparator();
    trayHeldEnd_->setVisible(false);
    addCommand(trayMenu_, "Pelorus Properties(&P)", "32777", &TrayApplication::showProperties);
    addCommand(trayMenu_, "Pelorus Filters(&F)", "32786", &TrayApplication::showFilters);
    addCommand(trayMenu_, "Pelorus Help(&H)", "32783", &TrayApplication::showHelp);
    trayMenu_->addSeparator();
    QAction* trayVersion = trayMenu_->addAction(QStringLiteral("Pelorus Version(&V)"));
    trayVersion->setObjectName(QStringLiteral("32781"));
    connect(trayVersion, &QAction::triggered, this, [this] { showVersion(true); });
    trayMenu_->addSeparator();
    addCommand(trayMenu_, "Exit(&X)", "32778", &TrayApplication::exitProgram);
}

void TrayApplication::addHeldMail(const HeldMail& mail)
{
    if (heldEntries_.count(mail.number) != 0)
        return;
    QString subject = QString::fromStdString(balloonSubject(mail.subject, 210));
    subject.replace(QLatin1Char('&'), QStringLiteral("&&"));  // a subject's & is no shortcut
    const QString text = tr("Undo sending '%1'").arg(subject);
    // Each entry goes above the separator that its menu made and owns.
    const auto entry = [&](QAction* end) {
        auto* menu = qobject_cast<QMenu*>(end->parent());
        auto* action = new QAction(text, menu);
        action->setObjectName(QStringLiteral("undo%1").arg(mail.number));
        connect(action, &QAction::triggered, this, [number = mail.number] { HeldMails::instance().undo(number); });
        menu->insertAction(end, action);
        end->setVisible(true);
        return action;
    };
    heldEntries_.emplace(mail.number, std::make_pair(entry(fileHeldEnd_), entry(trayHeldEnd_)));
}

void TrayApplication::removeHeldMail(const HeldMail& mail)
{
    const auto found = heldEntries_.find(mail.number);
    if (found == heldEntries_.end())
        return;
    delete found->second.first;
    delete found->second.second;
    heldEntries_.erase(found);
    fileHeldEnd_->setVisible(!heldEntries_.empty());
    trayHeldEnd_->setVisible(!heldEntries_.empty());
}

void TrayApplication::start()
{
    if (wait_.bus.isConnected()) {
        watcher_ = new QDBusServiceWatcher(QString::fromLatin1(WatcherService), wait_.bus,
                                           QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] { askWatcher(); });
        connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
            hostSeen_ = false;
            trayLost();
        });
        wait_.bus.connect(QString::fromLatin1(WatcherService), QString::fromLatin1(WatcherPath),
                          QString::fromLatin1(WatcherService), QStringLiteral("StatusNotifierHostRegistered"), this,
                          SLOT(onHostRegistered()));
    }
    setState(TrayState::Waiting);
    waited_ = 0;
    askWatcher();
    if (trayUsable())
        trayFound();
    else if (wait_.pollByTimer)
        poll_.start();
}

void TrayApplication::pollTray()
{
    if (state_ == TrayState::InTray) {
        poll_.stop();
        return;
    }
    askWatcher();
    if (trayUsable()) {
        trayFound();
        return;
    }
    waited_ += wait_.intervalMilliseconds;
    if (state_ == TrayState::Waiting && waited_ >= wait_.limitMilliseconds)
        fallBack();
}

void TrayApplication::onHostRegistered() { askWatcher(); }

void TrayApplication::askWatcher()
{
    if (!wait_.bus.isConnected())
        return;
    if (asking_) {
        // The answer on its way may predate what made us ask (a watcher
        // that just appeared): ask once more when it is in.
        askAgain_ = true;
        return;
    }
    // Asked without waiting: the GUI thread never blocks on another process.
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(WatcherService),
                                                       QString::fromLatin1(WatcherPath),
                                                       QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("Get"));
    call << QString::fromLatin1(WatcherService) << QStringLiteral("IsStatusNotifierHostRegistered");
    asking_ = true;
    auto* pending = new QDBusPendingCallWatcher(wait_.bus.asyncCall(call, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answer) {
        answer->deleteLater();
        asking_ = false;
        const QDBusPendingReply<QDBusVariant> reply = *answer;
        hostAnswered(!reply.isError() && reply.value().variant().toBool());
        const bool again = askAgain_;
        askAgain_ = false;
        if (again && state_ != TrayState::InTray)
            askWatcher();
    });
}

void TrayApplication::hostAnswered(bool registered)
{
    hostSeen_ = registered;
    if (state_ != TrayState::InTray && trayUsable())
        trayFound();
}

bool TrayApplication::trayUsable()
{
    if (wait_.qtTray())
        return true;
    return hostSeen_ && !wait_.qtDecides;
}

void TrayApplication::trayFound()
{
    poll_.stop();
    const bool wasFallback = state_ == TrayState::Fallback;
    if (trayIcon_ == nullptr) {
        trayIcon_ = new QSystemTrayIcon(pelorusIcon(110), this);
        trayIcon_->setObjectName(QStringLiteral("100"));
        trayIcon_->setToolTip(QString::fromLatin1(Tip));
        trayIcon_->setContextMenu(trayMenu_);
        connect(trayIcon_, &QSystemTrayIcon::activated, this, &TrayApplication::popUpTrayMenu);
        trayIcon_->show();
        emit trayIconReady(trayIcon_);
    }
    fallbackFilters_->setVisible(false);
    fallbackHelp_->setVisible(false);
    setState(TrayState::InTray);
    if (wasFallback)
        hide();
}

void TrayApplication::trayLost()
{
    if (state_ != TrayState::InTray)
        return;
    // The panel may be restarting: give it the same time as at start-up.
    setState(TrayState::Waiting);
    waited_ = 0;
    poll_.setInterval(wait_.intervalMilliseconds);
    if (wait_.pollByTimer)
        poll_.start();
}

void TrayApplication::fallBack()
{
    setState(TrayState::Fallback);
    fallbackFilters_->setVisible(true);
    fallbackHelp_->setVisible(true);
    showWindow();
    // Keep looking for a tray, less often.
    poll_.setInterval(wait_.intervalMilliseconds * 4);
}

void TrayApplication::setState(TrayState state)
{
    if (state_ == state)
        return;
    state_ = state;
    emit trayStateChanged(state);
}

void TrayApplication::popUpTrayMenu(QSystemTrayIcon::ActivationReason reason)
{
    // A StatusNotifier panel reports a left click as Trigger and never a
    // double click; the right button shows the context menu by itself.
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
        trayMenu_->popup(QCursor::pos());
}

void TrayApplication::showProperties()
{
    if (commands_.properties)
        commands_.properties();
}

void TrayApplication::showFilters()
{
    if (commands_.filters)
        commands_.filters();
}

QString TrayApplication::helpPagePath()
{
    const QString installed =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../share/pelorus/html/Pelorus.html"));
    if (QFileInfo::exists(installed))
        return QFileInfo(installed).canonicalFilePath();
#ifdef PELORUS_SOURCE_HELP_PAGE
    if (QFileInfo::exists(QStringLiteral(PELORUS_SOURCE_HELP_PAGE)))
        return QStringLiteral(PELORUS_SOURCE_HELP_PAGE);
#endif
    return QFileInfo(installed).absoluteFilePath();
}

void TrayApplication::showHelp()
{
    const QString page = helpPagePath();
    const QUrl url = QUrl::fromLocalFile(page);
    const bool opened = QFileInfo::exists(page) &&
                        (commands_.openUrl ? commands_.openUrl(url) : QDesktopServices::openUrl(url));
    if (opened)
        return;
    // Not a silent no-op: the user asked for help and should know why none came.
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Pelorus"),
                                QStringLiteral("The help page could not be opened:\n%1").arg(page), QMessageBox::Ok,
                                this);
    box->setObjectName(QStringLiteral("helpFailure"));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void TrayApplication::showVersion(bool beepWhenOpen)
{
    if (versionDialog_) {
        if (beepWhenOpen)
            beep();
        versionDialog_->raise();
        versionDialog_->activateWindow();
        return;
    }
    versionDialog_ = new VersionDialog(this);
    versionDialog_->setAttribute(Qt::WA_DeleteOnClose);
    if (!isVisible() && screen() != nullptr) {
        // Centred on the hidden window it would stand in a corner.
        versionDialog_->adjustSize();
        versionDialog_->move(screen()->availableGeometry().center() - versionDialog_->rect().center());
    }
    versionDialog_->show();
    versionDialog_->raise();
    versionDialog_->activateWindow();
}

void TrayApplication::exitProgram()
{
    if (commands_.exit)
        commands_.exit();
}

void TrayApplication::showWindow()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    showNormal();
    raise();
    activateWindow();
}

void TrayApplication::closeEvent(QCloseEvent* event)
{
    if (closing_) {
        event->accept();
        return;
    }
    // Only Exit ends the program. Without a tray the window is the only way
    // back to the commands, so it goes to the task bar instead of vanishing.
    event->ignore();
    if (state_ == TrayState::Fallback)
        showMinimized();
    else
        hide();
}

void TrayApplication::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && state_ != TrayState::Fallback)
        QTimer::singleShot(0, this, [this] {
            if (state_ != TrayState::Fallback)
                hide();
        });
}

} // namespace MAIL
