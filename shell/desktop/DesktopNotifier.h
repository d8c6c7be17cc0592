// DesktopNotifier: the balloons and message boxes of the relay on the
// desktop.
//
// While it lives it is the notification sink and the message-box sink
// (setNotificationSink, setMessageBoxSink); destroying it restores the
// defaults. The sinks may be called from any thread and never block: each
// request reaches the GUI thread by a queued call.
//
// A balloon goes to the desktop's notification service
// (org.freedesktop.Notifications) whenever one answers on the bus: app name
// and summary "Pelorus", no actions, icon dialog-information,
// dialog-warning or dialog-error, urgency 0 (and the hint "transient") for
// information and 1 for warnings and errors, expire_timeout the display
// time, and replaces_id the id of the previous notice, so that a newer
// balloon replaces the one shown instead of piling up. CR LF becomes LF,
// every other control character is shown escaped (visibleText), and &, <
// and > are escaped when the server reads body markup. Requests are
// sent one at a time, in order. Only when no service answers is the
// balloon shown on the tray icon (QSystemTrayIcon::showMessage); without a
// tray icon it is dropped, as a balloon with no icon to hang on.
//
// A held mail (showHold) gets a notice of its own: "Sending in N
// seconds:\r\n'SUBJECT'", replaces_id 0, no "transient" hint, urgency 1,
// expire_timeout the hold, and the action "undo" when the service offers
// actions. It stands outside the replacing chain: balloons neither replace
// it nor take its id as the one to replace. An ActionInvoked "undo" with
// its id undoes the mail (HeldMails::undo); endHold() closes it. It goes
// through the same queue as the balloons, so a hold's end is always sent
// after its notice. Without a service it is not shown at all: the menus'
// Undo entries stand in for it. Notices of holds still shown when the
// notifier goes (at the end of the program) are closed.
//
// A message box is a non-modal QMessageBox made on the GUI thread, its text
// shown as plain text, escaped as a notice is; it deletes itself when closed.
#pragma once

#include "relay/HeldMails.h"
#include "relay/Notifications.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <map>
#include <memory>

class QSystemTrayIcon;

namespace MAIL {

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    // On the GUI thread, after the QApplication; uses the session bus.
    explicit DesktopNotifier(QObject* parent = nullptr);
    // The same on a given bus (a private one in tests).
    explicit DesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);
    ~DesktopNotifier() override;
    DesktopNotifier(const DesktopNotifier&) = delete;
    DesktopNotifier& operator=(const DesktopNotifier&) = delete;

    // The tray icon used when there is no notification service; null for none.
    void setTrayIcon(QSystemTrayIcon* icon);

    // GUI thread: what the sinks queue.
    void showBalloon(const Balloon& balloon);
    void showMessageBox(const QString& title, const QString& text, NoticeKind kind);
    // GUI thread: the notice of a held mail, and the end of its hold.
    void showHold(const MAIL::HeldMail& mail);
    void endHold(const MAIL::HeldMail& mail);

signals:
    // A balloon went to the tray icon because no notification service answered.
    void shownOnTrayIcon(const QString& title, const QString& text);

private slots:
    // The service's ActionInvoked signal.
    void onActionInvoked(uint id, const QString& action);

private:
    struct Gate;
    // What waits for the service: a balloon, or the start or end of a hold.
    struct Request {
        enum class Kind { Balloon, HoldBegan, HoldEnded } kind;
        Balloon balloon;
        HeldMail held;
    };
    void install();
    void enqueue(Request request);
    void sendNext();
    void askCapabilities();
    // The service went away: the next request asks the bus again.
    void forgetService();
    // No service: the balloons go to the tray icon, the holds' notices
    // nowhere.
    void serviceMissing();
    void notify(const Balloon& balloon);
    void notifyHold(const HeldMail& mail);
    void closeHold(int number);
    void showOnTrayIcon(const Balloon& balloon);

    QDBusConnection bus_;
    std::shared_ptr<Gate> gate_;
    QPointer<QSystemTrayIcon> tray_;
    std::deque<Request> waiting_;
    bool busy_ = false;             // a call to the service is under way
    bool knowsCapabilities_ = false;
    bool bodyMarkup_ = false;
    bool actions_ = false;
    unsigned lastId_ = 0;           // the notice a new one replaces
    std::map<int, uint> holdIds_;   // held mail number -> its notice
};

} // namespace MAIL
