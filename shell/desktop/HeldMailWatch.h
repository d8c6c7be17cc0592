// HeldMailWatch: the held mails as the GUI thread hears of them.
//
// While it lives it is the watcher of HeldMails. Each Began and Ended, told
// on a session's thread, reaches the GUI thread by a queued call and is
// emitted there as began() or ended(); the session never waits for the GUI.
// The events of one session keep their order, so a mail's ended() always
// follows its began(). Destroying the watch removes the watcher; events
// still on their way are dropped.
#pragma once

#include "relay/HeldMails.h"

#include <QObject>

#include <memory>

namespace MAIL {

class HeldMailWatch : public QObject {
    Q_OBJECT
public:
    // On the GUI thread, before any session may hold a mail.
    explicit HeldMailWatch(QObject* parent = nullptr);
    ~HeldMailWatch() override;
    HeldMailWatch(const HeldMailWatch&) = delete;
    HeldMailWatch& operator=(const HeldMailWatch&) = delete;

signals:
    void began(const MAIL::HeldMail& mail);
    void ended(const MAIL::HeldMail& mail);

private:
    struct Gate;
    std::shared_ptr<Gate> gate_;
};

} // namespace MAIL
