// The Properties and Filters commands of the tray menu.
//
// Each command keeps at most one dialog: open() while it is open beeps and
// raises the open one, since the tray menu stays usable while a dialog is
// shown. Dialogs are shown with show(), never a nested event loop.
//
// PropertiesCommand reads Server, Port, Security, Allowed, ProxyPort,
// DecisionLog, the checks (FlagNewRecipients, ConfirmEachRecipient,
// MaxRecipients) and the hold (SendDelay, HoldTrusted),
// shows the Properties dialog and, after OK, writes them back. Only a
// changed ProxyPort touches the listener: it reads Server, Port and
// Security afresh for every connection. A failed write says
// the settings were not saved and changes nothing else. In the full form a
// changed ProxyPort moves the listener: the new one is made first, and when
// it cannot listen the old one keeps serving, the previous ProxyPort is
// written back, the user is told ("Found inavalid parameter setting ...",
// after the listener's own box about the port) and the dialog opens again
// with the entered values. The start-up form only reads and writes.
// closed(accepted) is emitted once the command has ended: accepted is true
// when the settings were written (and the listener moved if it had to).
//
// The parent widget owns the dialogs and boxes; the commands themselves are
// owned by whoever made them (they are not children of the parent).
#pragma once

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <string>

class QWidget;
class QMessageBox;

namespace MAIL {

class FiltersDialog;
class PropertiesDialog;
class ProxyService;

class PropertiesCommand : public QObject {
    Q_OBJECT
public:
    PropertiesCommand(ProxyService& service, QWidget* parent);
    ~PropertiesCommand() override;

    // Opens the dialog; startupForm: only read and write the settings,
    // never move the listener.
    void open(bool startupForm);
    // True from open() until closed() is emitted.
    bool isOpen() const { return open_; }

    // The dialog while it is shown (for tests and the tray's own raise).
    PropertiesDialog* dialog() const;

signals:
    void closed(bool accepted);

private:
    struct Entered {
        std::string server, allowed, security;
        std::uint16_t port = 0, proxyPort = 0;
        bool decisionLog = true;
        bool flagNewRecipients = true, confirmEachRecipient = false;
        std::int32_t maxRecipients = 0;
        std::int32_t sendDelay = 0;
        bool holdTrusted = true;
    };
    void showDialog(const Entered& values);
    void dialogFinished(int result);
    void finish(bool accepted);
    void bringForward();

    ProxyService& service_;
    QPointer<QWidget> parent_;
    QPointer<PropertiesDialog> dialog_;
    QPointer<QMessageBox> box_;
    bool open_ = false;
    bool startupForm_ = false;
    std::uint16_t storedProxyPort_ = 0;  // the ProxyPort the listener serves
};

class FiltersCommand : public QObject {
    Q_OBJECT
public:
    explicit FiltersCommand(QWidget* parent);
    ~FiltersCommand() override;

    // Opens the Filters dialog, or beeps and raises the one that is open.
    void open();
    bool isOpen() const { return !dialog_.isNull(); }
    // The dialog while it is shown.
    FiltersDialog* dialog() const;

private:
    QPointer<QWidget> parent_;
    QPointer<FiltersDialog> dialog_;
};

} // namespace MAIL
