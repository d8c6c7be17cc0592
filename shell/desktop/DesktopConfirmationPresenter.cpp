#include "shell/desktop/DesktopConfirmationPresenter.h"

#include "config/LogWriter.h"
#include "relay/Notifications.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace MAIL {

namespace {

// How often a waiting session looks at its CancelToken.
constexpr int WaitSlice = 100;

// One confirmation: what to show, and its answer once it has one.
struct Request {
    explicit Request(ConfirmationContent shownContent) : content(std::move(shownContent)) {}

    // Records how it ended; only the first end counts.
    void finish(ConfirmationEnd end)
    {
        {
            std::lock_guard guard(lock);
            if (finished)
                return;
            finished = true;
            answer = end;
        }
        signal.notify_all();
    }
    bool isFinished()
    {
        std::lock_guard guard(lock);
        return finished;
    }
    // The end, once there is one within the limit.
    std::optional<ConfirmationEnd> waitFor(int milliseconds)
    {
        std::unique_lock guard(lock);
        if (!signal.wait_for(guard, std::chrono::milliseconds(milliseconds), [this] { return finished; }))
            return std::nullopt;
        return answer;
    }

    const ConfirmationContent content;
    QPointer<ConfirmationWindow> window;  // GUI thread only

private:
    std::mutex lock;
    std::condition_variable signal;
    bool finished = false;
    ConfirmationEnd answer = ConfirmationEnd::Cancelled;
};

} // namespace

// Shared by the presenter and the queued calls, which may outlive it.
struct DesktopConfirmationPresenter::Core {
    ConfirmationWindow::Clock clock;

    std::mutex lock;
    QObject* context = nullptr;  // lives on the GUI thread; null once gone
    bool closed = false;

    std::vector<std::shared_ptr<Request>> open;  // GUI thread only

    bool isClosed()
    {
        std::lock_guard guard(lock);
        return closed;
    }

    // Runs call on the GUI thread later; false when there is no GUI to run it.
    bool post(std::function<void()> call, bool evenWhenClosed)
    {
        std::lock_guard guard(lock);
        if (context == nullptr || (closed && !evenWhenClosed))
            return false;
        return QMetaObject::invokeMethod(context, std::move(call), Qt::QueuedConnection);
    }

    // GUI thread: shows the request's window, ending the older ones first.
    void show(const std::shared_ptr<Core>& self, const std::shared_ptr<Request>& request)
    {
        if (request->isFinished())
            return;  // its session stopped waiting before the window was made
        if (isClosed()) {
            request->finish(ConfirmationEnd::ShutDown);
            return;
        }
        // A newer confirmation replaces the open one, which is cancelled now.
        for (const std::shared_ptr<Request>& older : std::vector(open))
            end(older, false, ConfirmationEnd::Replaced);

        ConfirmationWindow* window = nullptr;
        try {
            window = new ConfirmationWindow(request->content, clock);
        } catch (...) {
            error(getLogWriter(), "DesktopConfirmationPresenter#show,1,The confirmation window could not be made");
            request->finish(ConfirmationEnd::NoOneToAsk);
            return;
        }
        request->window = window;
        open.push_back(request);
        std::weak_ptr<Core> weak = self;
        QObject::connect(window, &QDialog::finished, window, [weak, request, window] {
            if (window->answer() == 1)
                request->finish(ConfirmationEnd::Confirmed);
            else
                request->finish(window->timedOut() ? ConfirmationEnd::TimedOut : ConfirmationEnd::Cancelled);
            if (std::shared_ptr<Core> core = weak.lock())
                core->forget(request);
            window->deleteLater();
        });
        window->showOnTop();
        // Where a window cannot put itself above the others (Wayland), the
        // notice is what tells the user that a question waits, and which.
        showInfoBalloon(std::string(AddressConfirmationDialog::Title) + "\r\n" +
                        visibleText(request->content.subject, false));
    }

    // GUI thread: ends the request's window with Cancel (deleting it at
    // once when asked, else when the loop next runs).
    void end(const std::shared_ptr<Request>& request, bool deleteNow, ConfirmationEnd why)
    {
        request->finish(why);
        QPointer<ConfirmationWindow> window = request->window;
        if (window)
            window->cancel();
        forget(request);
        if (deleteNow)
            delete window.data();
    }

    void forget(const std::shared_ptr<Request>& request)
    {
        open.erase(std::remove(open.begin(), open.end(), request), open.end());
    }

    // GUI thread: no more confirmations; the open ones end with Cancel.
    void close()
    {
        {
            std::lock_guard guard(lock);
            closed = true;
        }
        for (const std::shared_ptr<Request>& request : std::vector(open))
            end(request, true, ConfirmationEnd::ShutDown);
    }
};

DesktopConfirmationPresenter::DesktopConfirmationPresenter(ConfirmationWindow::Clock clock)
    : core_(std::make_shared<Core>())
{
    core_->clock = clock;
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr) {
        core_->closed = true;  // no GUI: nobody could ever answer
        return;
    }
    core_->context = new QObject;
    // A loop that ends without shutDown() still cancels what is open.
    std::weak_ptr<Core> weak = core_;
    QObject::connect(application, &QCoreApplication::aboutToQuit, core_->context, [weak] {
        if (std::shared_ptr<Core> core = weak.lock())
            core->close();
    });
    // Without the application no queued call would ever run.
    QObject::connect(application, &QObject::destroyed, core_->context, [weak] {
        if (std::shared_ptr<Core> core = weak.lock()) {
            std::lock_guard guard(core->lock);
            core->closed = true;
        }
    });
}

DesktopConfirmationPresenter::~DesktopConfirmationPresenter()
{
    QObject* context = nullptr;
    {
        std::lock_guard guard(core_->lock);
        std::swap(context, core_->context);
        core_->closed = true;
    }
    if (context == nullptr)
        return;
    if (QThread::currentThread() == context->thread()) {
        core_->close();
        delete context;
    } else {
        // The last session let go of it: the GUI thread cleans up.
        std::shared_ptr<Core> core = core_;
        QMetaObject::invokeMethod(context, [core, context] {
            core->close();
            context->deleteLater();
        }, Qt::QueuedConnection);
    }
}

int DesktopConfirmationPresenter::present(const AddressConfirmationDialog& model, CancelToken& cancel)
{
    if (core_->isClosed()) {
        cancel.explain(ConfirmationEnd::NoOneToAsk);
        return 2;
    }
    if (isGuiThread()) {
        // Waiting here would stop the very loop that shows the window.
        error(getLogWriter(), "DesktopConfirmationPresenter#present,2,Asked on the GUI thread, so cancel it");
        cancel.explain(ConfirmationEnd::NoOneToAsk);
        return 2;
    }
    auto request = std::make_shared<Request>(ConfirmationContent::from(model));
    std::shared_ptr<Core> core = core_;
    if (!core->post([core, request] { core->show(core, request); }, false)) {
        debug(getLogWriter(), "DesktopConfirmationPresenter#present,1,No window can be shown, so cancel it");
        cancel.explain(ConfirmationEnd::NoOneToAsk);
        return 2;
    }
    for (;;) {
        if (std::optional<ConfirmationEnd> end = request->waitFor(WaitSlice)) {
            if (*end == ConfirmationEnd::Confirmed)
                return 1;
            cancel.explain(*end);
            return 2;
        }
        if (cancel.isCancelled() || core->isClosed()) {
            // Answer now; the window, if it was made, closes on the GUI thread.
            cancel.explain(ConfirmationEnd::ShutDown);
            request->finish(ConfirmationEnd::ShutDown);
            core->post([core, request] { core->end(request, false, ConfirmationEnd::ShutDown); }, true);
            return 2;
        }
    }
}

bool DesktopConfirmationPresenter::isGuiThread() const
{
    std::lock_guard guard(core_->lock);
    return core_->context != nullptr && core_->context->thread() == QThread::currentThread();
}

void DesktopConfirmationPresenter::shutDown() { core_->close(); }

ConfirmationWindow* DesktopConfirmationPresenter::openWindow() const
{
    if (core_->open.empty())
        return nullptr;
    return core_->open.back()->window.data();
}

} // namespace MAIL
