#include "shell/desktop/DesktopMain.h"

#include "config/LogWriter.h"
#include "config/ProxyConfiguration.h"
#include "relay/ConfirmationPresenter.h"
#include "relay/Notifications.h"
#include "shell/Program.h"
#include "shell/ProxyService.h"
#include "shell/desktop/DesktopConfirmationPresenter.h"
#include "shell/desktop/DesktopNotifier.h"
#include "shell/desktop/DisplayChoice.h"
#include "shell/desktop/HeldMailWatch.h"
#include "shell/desktop/Icons.h"
#include "shell/desktop/TrayApplication.h"

#if __has_include("shell/desktop/DialogCommands.h")
#include "shell/desktop/DialogCommands.h"
#include "shell/desktop/FiltersDialog.h"     // DialogCommands' accessors need the whole types
#include "shell/desktop/PropertiesDialog.h"
#define PELORUS_HAVE_DIALOG_COMMANDS 1
#endif

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <sys/signalfd.h>
#include <unistd.h>

namespace MAIL {

namespace {

bool settingsMissing()
{
    ProxyConfiguration config;
    std::string server;
    std::uint16_t port = 0;
    std::uint16_t proxyPort = 0;
    return !config.getServer(server) || !config.getPort(port) || !config.getProxyPort(proxyPort);
}

// SIGINT, SIGTERM and SIGHUP, blocked in every thread since prepareProcess(),
// read from a signalfd on the GUI thread.
class SignalReader : public QObject {
    Q_OBJECT
public:
    SignalReader()
    {
        sigset_t ending;
        sigemptyset(&ending);
        sigaddset(&ending, SIGINT);
        sigaddset(&ending, SIGTERM);
        sigaddset(&ending, SIGHUP);
        descriptor_ = ::signalfd(-1, &ending, SFD_CLOEXEC | SFD_NONBLOCK);
        if (descriptor_ < 0)
            return;
        notifier_ = std::make_unique<QSocketNotifier>(descriptor_, QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
            signalfd_siginfo info{};
            if (::read(descriptor_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
                emit received(static_cast<int>(info.ssi_signo));
        });
    }
    ~SignalReader() override
    {
        notifier_.reset();
        if (descriptor_ >= 0)
            ::close(descriptor_);
    }
    SignalReader(const SignalReader&) = delete;
    SignalReader& operator=(const SignalReader&) = delete;

signals:
    void received(int signal);

private:
    int descriptor_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

// The running desktop program: the window with its commands, the sinks and
// the start-up and shut-down steps around the proxy.
class DesktopProgram : public QObject {
    Q_OBJECT
public:
    explicit DesktopProgram(ProxyService& service) : service_(service)
    {
        TrayCommands commands;
        commands.properties = [this] { openProperties(); };
        commands.filters = [this] { openFilters(); };
        commands.exit = [this] { requestExit(); };
        window_ = std::make_unique<TrayApplication>(std::move(commands));

        // Made on the GUI thread, before any thread of the proxy starts.
        presenter_ = std::make_shared<DesktopConfirmationPresenter>();
        setConfirmationPresenter(presenter_);
        notifier_ = std::make_unique<DesktopNotifier>();
        connect(window_.get(), &TrayApplication::trayIconReady, notifier_.get(), &DesktopNotifier::setTrayIcon);
        // Each held mail: its notice with Undo, and an Undo entry in the menus.
        heldMails_ = std::make_unique<HeldMailWatch>();
        connect(heldMails_.get(), &HeldMailWatch::began, notifier_.get(), &DesktopNotifier::showHold);
        connect(heldMails_.get(), &HeldMailWatch::ended, notifier_.get(), &DesktopNotifier::endHold);
        connect(heldMails_.get(), &HeldMailWatch::began, window_.get(), &TrayApplication::addHeldMail);
        connect(heldMails_.get(), &HeldMailWatch::ended, window_.get(), &TrayApplication::removeHeldMail);
#ifdef PELORUS_HAVE_DIALOG_COMMANDS
        properties_ = std::make_unique<PropertiesCommand>(service_, window_.get());
        filters_ = std::make_unique<FiltersCommand>(window_.get());
#endif
    }

    ~DesktopProgram() override
    {
#ifdef PELORUS_HAVE_DIALOG_COMMANDS
        filters_.reset();
        properties_.reset();
#endif
        heldMails_.reset();  // removes the watcher
        notifier_.reset();  // restores the default sinks
        setConfirmationPresenter(nullptr);
        presenter_.reset();
        window_.reset();
    }
    DesktopProgram(const DesktopProgram&) = delete;
    DesktopProgram& operator=(const DesktopProgram&) = delete;

    // The start-up steps that need the loop: the tray wait, the settings
    // check, then the proxy.
    void startUp()
    {
        window_->start();
        if (!settingsMissing()) {
            startProxy();
            return;
        }
#ifdef PELORUS_HAVE_DIALOG_COMMANDS
        // Whatever the user answers, the proxy starts afterwards (with the
        // defaults when the form was cancelled).
        connect(properties_.get(), &PropertiesCommand::closed, this, &DesktopProgram::startUpFormClosed,
                Qt::SingleShotConnection);
        properties_->open(true);
#else
        startUpFormClosed();
#endif
    }

    // Exit or a signal: an open confirmation ends with Cancel, then the loop.
    void requestExit()
    {
        if (exiting_)
            return;
        exiting_ = true;
        presenter_->shutDown();
        cancelOpenConfirmation(true);
        window_->allowClose();
        QCoreApplication::exit(status_);
    }

    int status() const { return status_; }

private:
    void startUpFormClosed()
    {
        debug(getLogWriter(), "Pelorus#WinMain,4,Updating server settings");
        if (!exiting_)
            startProxy();
    }

    void startProxy()
    {
        try {
            // Connectivity states come on the watcher's thread; the watcher
            // is stopped and waited for before this object goes away.
            service_.start([this](int state) {
                QMetaObject::invokeMethod(
                    this,
                    [this, state] {
                        if (const std::optional<std::string> text = service_.notice(state))
                            showInfoBalloon(*text);
                    },
                    Qt::QueuedConnection);
            });
        } catch (int code) {
            startFailed(code);
        }
    }

    void startFailed(int code)
    {
        std::string lines;
        status_ = listenerFailure(code, lines);
        std::fprintf(stderr, "%s\n", lines.c_str());
        exiting_ = true;
        // No owner: the main window is not part of a failed start.
        auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Pelorus"), QString::fromStdString(lines),
                                    QMessageBox::Ok);
        box->setObjectName(QStringLiteral("startFailure"));
        box->setTextFormat(Qt::PlainText);
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QMessageBox::finished, this, [this] { QCoreApplication::exit(status_); });
        box->show();
        failureBox_ = box;
    }

    void openProperties()
    {
#ifdef PELORUS_HAVE_DIALOG_COMMANDS
        properties_->open(false);
#endif
    }

    void openFilters()
    {
#ifdef PELORUS_HAVE_DIALOG_COMMANDS
        filters_->open();
#endif
    }

public:
    // Ends the program when a signal arrives while the start-failure box is
    // still up.
    void signalled(int signal)
    {
        debug(getLogWriter(), "Pelorus#WinMain,6,Signal %d, shutting down", signal);
        if (failureBox_) {
            QCoreApplication::exit(status_);
            return;
        }
        requestExit();
    }

private:
    ProxyService& service_;
    std::unique_ptr<TrayApplication> window_;
    std::shared_ptr<DesktopConfirmationPresenter> presenter_;
    std::unique_ptr<DesktopNotifier> notifier_;
    std::unique_ptr<HeldMailWatch> heldMails_;
#ifdef PELORUS_HAVE_DIALOG_COMMANDS
    std::unique_ptr<PropertiesCommand> properties_;
    std::unique_ptr<FiltersCommand> filters_;
#endif
    QPointer<QMessageBox> failureBox_;
    bool exiting_ = false;
    int status_ = 0;
};

} // namespace

int runDesktop(const ProgramOptions& /*options*/)
{
    choosePlatform();
    // Qt keeps argc and argv for the life of the application.
    static int argc = 1;
    static char name[] = "pelorus";
    static char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("Pelorus"));
    QApplication::setDesktopFileName(QStringLiteral("pelorus"));
    QApplication::setWindowIcon(pelorusIcon(107));

    int status = 0;
    {
        ProxyService service;
        {
            DesktopProgram program(service);
            SignalReader endings;
            QObject::connect(&endings, &SignalReader::received, &program, &DesktopProgram::signalled);
            QTimer::singleShot(0, &program, [&program] { program.startUp(); });
            application.exec();
            status = program.status();
            // The same order as the terminal mode: the watcher, the
            // listener, then the sessions (an open confirmation has been
            // cancelled already, its client gets the 450).
            service.stop();
        }
    }
    return status;
}

} // namespace MAIL

#include "DesktopMain.moc"
