#include "shell/desktop/DesktopNotifier.h"

#include "relay/SessionText.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QVariantMap>

#include <algorithm>
#include <mutex>

namespace MAIL {

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString ObjectPath = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString AppName = QStringLiteral("Pelorus");
// A service that does not answer within this is treated as absent.
constexpr int CallTimeout = 5000;
// Notices waiting for a slow service; the oldest balloons go first, as
// each newer one would replace them anyway.
constexpr std::size_t MaxWaiting = 32;
// The key of a held mail's Undo action.
const QString UndoAction = QStringLiteral("undo");
// The longest expiry a held mail's notice asks for; holds are far shorter.
constexpr int LongestHoldSeconds = 3600;

QString fromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString iconName(NoticeKind kind)
{
    switch (kind) {
    case NoticeKind::Warning:
        return QStringLiteral("dialog-warning");
    case NoticeKind::Error:
        return QStringLiteral("dialog-error");
    case NoticeKind::Information:
        break;
    }
    return QStringLiteral("dialog-information");
}

// Shown text: one line break per CR LF, every other control escaped, so
// nothing but the notice's own line breaks can start a line.
QString shownText(const std::string& text) { return fromUtf8(visibleText(text, true)); }

// The notice body, with the markup characters escaped when the server
// would read them as markup.
QString bodyText(const std::string& text, bool markup)
{
    QString body = shownText(text);
    if (markup) {
        body.replace(QLatin1Char('&'), QStringLiteral("&amp;"));
        body.replace(QLatin1Char('<'), QStringLiteral("&lt;"));
        body.replace(QLatin1Char('>'), QStringLiteral("&gt;"));
    }
    return body;
}

QMessageBox::Icon boxIcon(NoticeKind kind)
{
    switch (kind) {
    case NoticeKind::Warning:
        return QMessageBox::Warning;
    case NoticeKind::Error:
        return QMessageBox::Critical;
    case NoticeKind::Information:
        break;
    }
    return QMessageBox::Information;
}

QSystemTrayIcon::MessageIcon trayIcon(NoticeKind kind)
{
    switch (kind) {
    case NoticeKind::Warning:
        return QSystemTrayIcon::Warning;
    case NoticeKind::Error:
        return QSystemTrayIcon::Critical;
    case NoticeKind::Information:
        break;
    }
    return QSystemTrayIcon::Information;
}

} // namespace

// What the sinks reach the notifier through: they may run on any thread,
// and after the notifier is gone.
struct DesktopNotifier::Gate {
    std::mutex lock;
    DesktopNotifier* target = nullptr;

    template <typename Call> void post(Call call)
    {
        std::lock_guard guard(lock);
        if (target != nullptr)
            QMetaObject::invokeMethod(target, [target = target, call] { call(target); }, Qt::QueuedConnection);
    }
};

DesktopNotifier::DesktopNotifier(QObject* parent) : DesktopNotifier(QDBusConnection::sessionBus(), parent) {}

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), bus_(bus), gate_(std::make_shared<Gate>())
{
    gate_->target = this;
    install();
    bus_.connect(Service, ObjectPath, Interface, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(uint, QString)));
}

DesktopNotifier::~DesktopNotifier()
{
    {
        std::lock_guard guard(gate_->lock);
        gate_->target = nullptr;
    }
    setNotificationSink(nullptr);
    setMessageBoxSink(nullptr);
    // The program ends: it has undone the mails still held, and their
    // notices must not stay on screen offering an Undo that does nothing.
    // Sent without waiting for an answer, as nobody is left to hear it.
    for (const auto& [number, id] : holdIds_) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(Service, ObjectPath, Interface, QStringLiteral("CloseNotification"));
        call << id;
        bus_.send(call);
    }
}

void DesktopNotifier::install()
{
    std::shared_ptr<Gate> gate = gate_;
    setNotificationSink([gate](const Balloon& balloon) {
        gate->post([balloon](DesktopNotifier* notifier) { notifier->showBalloon(balloon); });
    });
    setMessageBoxSink([gate](const std::string& title, const std::string& text, NoticeKind kind) {
        gate->post([title, text, kind](DesktopNotifier* notifier) {
            notifier->showMessageBox(shownText(title), shownText(text), kind);
        });
    });
}

void DesktopNotifier::setTrayIcon(QSystemTrayIcon* icon) { tray_ = icon; }

void DesktopNotifier::showBalloon(const Balloon& balloon)
{
    enqueue(Request{Request::Kind::Balloon, balloon, {}});
}

void DesktopNotifier::showHold(const HeldMail& mail)
{
    enqueue(Request{Request::Kind::HoldBegan, {}, mail});
}

void DesktopNotifier::endHold(const HeldMail& mail)
{
    // A hold that ended before its notice went out needs none.
    const auto waiting = std::find_if(waiting_.begin(), waiting_.end(), [&mail](const Request& request) {
        return request.kind == Request::Kind::HoldBegan && request.held.number == mail.number;
    });
    if (waiting != waiting_.end()) {
        waiting_.erase(waiting);
        return;
    }
    enqueue(Request{Request::Kind::HoldEnded, {}, mail});
}

void DesktopNotifier::enqueue(Request request)
{
    waiting_.push_back(std::move(request));
    while (waiting_.size() > MaxWaiting) {
        // A hold's request is dropped only when nothing but holds waits.
        const auto balloon = std::find_if(waiting_.begin(), waiting_.end(), [](const Request& waiting) {
            return waiting.kind == Request::Kind::Balloon;
        });
        waiting_.erase(balloon != waiting_.end() ? balloon : waiting_.begin());
    }
    sendNext();
}

void DesktopNotifier::sendNext()
{
    if (busy_ || waiting_.empty())
        return;
    if (!bus_.isConnected()) {
        serviceMissing();
        return;
    }
    if (!knowsCapabilities_) {
        askCapabilities();
        return;
    }
    const Request request = waiting_.front();
    waiting_.pop_front();
    switch (request.kind) {
    case Request::Kind::Balloon:
        notify(request.balloon);
        break;
    case Request::Kind::HoldBegan:
        notifyHold(request.held);
        break;
    case Request::Kind::HoldEnded:
        closeHold(request.held.number);
        break;
    }
}

void DesktopNotifier::forgetService()
{
    knowsCapabilities_ = false;
    lastId_ = 0;
    holdIds_.clear();  // ids of a service that is gone mean nothing to the next one
}

void DesktopNotifier::serviceMissing()
{
    forgetService();
    while (!waiting_.empty()) {
        if (waiting_.front().kind == Request::Kind::Balloon)
            showOnTrayIcon(waiting_.front().balloon);
        waiting_.pop_front();
    }
}

// Whether the server reads body markup decides the escaping, whether it
// offers actions the Undo of held mails; an error means there is no
// service.
void DesktopNotifier::askCapabilities()
{
    busy_ = true;
    const QDBusMessage call = QDBusMessage::createMethodCall(Service, ObjectPath, Interface,
                                                             QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, CallTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<QStringList> reply = *finished;
        busy_ = false;
        if (reply.isError()) {
            serviceMissing();
            return;
        }
        knowsCapabilities_ = true;
        bodyMarkup_ = reply.value().contains(QStringLiteral("body-markup"));
        actions_ = reply.value().contains(QStringLiteral("actions"));
        sendNext();
    });
}

void DesktopNotifier::notify(const Balloon& balloon)
{
    busy_ = true;
    const bool information = balloon.kind == NoticeKind::Information;
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(information ? 0 : 1));
    if (information)
        hints.insert(QStringLiteral("transient"), true);
    QDBusMessage call = QDBusMessage::createMethodCall(Service, ObjectPath, Interface, QStringLiteral("Notify"));
    call << AppName << static_cast<uint>(lastId_) << iconName(balloon.kind) << fromUtf8(balloon.title)
         << bodyText(balloon.text, bodyMarkup_) << QStringList() << hints << static_cast<int>(balloon.milliseconds);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, CallTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, balloon](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        busy_ = false;
        if (reply.isError()) {
            // The service went away (or never was): this one goes to the
            // tray icon, and the next asks the bus again.
            forgetService();
            showOnTrayIcon(balloon);
        } else {
            lastId_ = reply.value();
        }
        sendNext();
    });
}

// A notice of its own (replaces_id 0, and its id is never one a balloon
// replaces), normal urgency and no "transient" hint, so that the service
// keeps it, with its Undo, for the whole hold.
void DesktopNotifier::notifyHold(const HeldMail& mail)
{
    busy_ = true;
    const std::string text =
        subjectNotice("Sending in " + std::to_string(mail.seconds) + " seconds:", balloonSubject(mail.subject, 210));
    QStringList actions;
    if (actions_)
        actions << UndoAction << tr("Undo");
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(1));
    // 0 would ask for a notice that never expires.
    const int milliseconds = std::clamp(mail.seconds, 1, LongestHoldSeconds) * 1000;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, ObjectPath, Interface, QStringLiteral("Notify"));
    call << AppName << static_cast<uint>(0) << iconName(NoticeKind::Information) << AppName
         << bodyText(text, bodyMarkup_) << actions << hints << milliseconds;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, CallTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, number = mail.number](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        busy_ = false;
        if (reply.isError()) {
            // Not shown: the menus' Undo entries remain.
            forgetService();
        } else {
            holdIds_[number] = reply.value();
        }
        sendNext();
    });
}

void DesktopNotifier::closeHold(int number)
{
    const auto found = holdIds_.find(number);
    if (found == holdIds_.end()) {
        sendNext();  // never shown
        return;
    }
    busy_ = true;
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, ObjectPath, Interface, QStringLiteral("CloseNotification"));
    call << found->second;
    holdIds_.erase(found);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, CallTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        // A notice the user closed already may answer with an error: the
        // end is the same.
        finished->deleteLater();
        busy_ = false;
        sendNext();
    });
}

void DesktopNotifier::onActionInvoked(uint id, const QString& action)
{
    if (action != UndoAction)
        return;
    for (const auto& [number, shown] : holdIds_)
        if (shown == id) {
            HeldMails::instance().undo(number);
            return;
        }
}

void DesktopNotifier::showOnTrayIcon(const Balloon& balloon)
{
    if (!tray_)
        return;  // no icon to show it on: refused, as the relay expects
    const QString title = fromUtf8(balloon.title);
    const QString text = shownText(balloon.text);
    tray_->showMessage(title, text, trayIcon(balloon.kind), balloon.milliseconds);
    emit shownOnTrayIcon(title, text);
}

void DesktopNotifier::showMessageBox(const QString& title, const QString& text, NoticeKind kind)
{
    auto* box = new QMessageBox(boxIcon(kind), title, text, QMessageBox::Ok);
    box->setObjectName(QStringLiteral("messageBox"));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace MAIL
