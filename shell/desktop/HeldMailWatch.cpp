#include "shell/desktop/HeldMailWatch.h"

#include <mutex>

namespace MAIL {

// What the watcher reaches the watch through: a session may still be
// telling an event while the watch goes away.
struct HeldMailWatch::Gate {
    std::mutex lock;
    HeldMailWatch* target = nullptr;
};

HeldMailWatch::HeldMailWatch(QObject* parent) : QObject(parent), gate_(std::make_shared<Gate>())
{
    gate_->target = this;
    std::shared_ptr<Gate> gate = gate_;
    HeldMails::instance().setWatcher([gate](HoldEvent event, const HeldMail& mail) {
        std::lock_guard guard(gate->lock);
        if (gate->target == nullptr)
            return;
        QMetaObject::invokeMethod(
            gate->target,
            [watch = gate->target, event, mail] {
                if (event == HoldEvent::Began)
                    emit watch->began(mail);
                else
                    emit watch->ended(mail);
            },
            Qt::QueuedConnection);
    });
}

HeldMailWatch::~HeldMailWatch()
{
    HeldMails::instance().setWatcher({});
    std::lock_guard guard(gate_->lock);
    gate_->target = nullptr;
}

} // namespace MAIL
