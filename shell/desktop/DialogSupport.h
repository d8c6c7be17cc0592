// What the Filters and Properties dialogs share: message boxes that never
// block (window-modal to their dialog, answered through a callback, text
// always plain), and work that runs off the GUI thread and hands its result
// back to it.
#pragma once

#include <QMessageBox>
#include <QMetaObject>
#include <QObject>
#include <QString>

class QPushButton;
class QVBoxLayout;

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

namespace MAIL {

// The program's texts (UTF-8, CR LF line ends) as Qt shows them.
QString displayText(std::string_view text);

// The foot both dialogs end with: the decoration icon (object name "11")
// beside "Please click [OK] button to save this setting, [Cancel] to
// discard changes.", a rule, and the OK and Cancel buttons on the right.
void addSaveFooter(QVBoxLayout* layout, QPushButton* ok, QPushButton* cancel);

// Opens a message box owned by parent (nullptr: none) and returns at once;
// done, when given, gets the button that ended it. The box deletes itself.
QMessageBox* showMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                            QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                            std::function<void(QMessageBox::StandardButton)> done = {});

// Runs one piece of work at a time on its own thread and calls done with
// its result on the receiver's thread. When the receiver (the owner of this
// object) is gone first, the result is dropped: a slow network never holds
// up the GUI thread, not even when a dialog closes. Starting new work drops
// the result of work still running.
class BackgroundWork {
public:
    explicit BackgroundWork(QObject* receiver);
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;
    ~BackgroundWork();

    template <class Result>
    void run(std::function<Result()> work, std::function<void(Result)> done)
    {
        finishPrevious();
        channel_ = std::make_shared<Channel>();
        channel_->receiver = receiver_;
        auto channel = channel_;
        thread_ = std::thread([channel, work = std::move(work), done = std::move(done)]() mutable {
            Result result = work();
            std::lock_guard guard(channel->lock);
            channel->delivered = true;
            if (channel->receiver != nullptr)
                QMetaObject::invokeMethod(
                    channel->receiver, [done = std::move(done), result = std::move(result)]() mutable { done(result); },
                    Qt::QueuedConnection);
        });
    }

    // Drops the result of work still running.
    void cancel() { finishPrevious(); }

private:
    struct Channel {
        std::mutex lock;
        QObject* receiver;  // cleared when the owner goes
        std::atomic<bool> delivered{false};
    };
    // Joins a thread that has handed over its result; one that has not is
    // left to end alone and its result dropped.
    void finishPrevious();

    QObject* receiver_;
    std::shared_ptr<Channel> channel_;
    std::thread thread_;
};

} // namespace MAIL
