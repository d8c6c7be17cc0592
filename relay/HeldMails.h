// HeldMails: the decided mails that wait a few seconds before they go, so
// that the user can take them back.
//
// A session holds its mail here for the SendDelay, after the decision and
// before the server hears anything of the mail. The shells show each held
// mail (a notice with an Undo action, a menu entry, a terminal line) and
// call undo() with its number. Numbers count from 1 for the run of the
// program and are never given twice.
//
// The watcher hears of every hold when it begins and when it ends, on the
// session's thread and outside the registry's lock; it must not block. An
// Ended event comes for every Began, however the hold ended (sent, undone,
// the client gone, the program ending).
//
// undoAll() is for the end of the program: it undoes every held mail, and
// every later hold is undone as soon as it begins, unannounced.
#pragma once

#include "relay/ConfirmationPresenter.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace MAIL {

struct HeldMail {
    int number = 0;
    std::string subject;  // as the mail gave it, not yet escaped
    int seconds = 0;      // the length of the hold
};

enum class HoldEvent { Began, Ended };

class HeldMails {
public:
    using Watcher = std::function<void(HoldEvent, const HeldMail&)>;

    static HeldMails& instance();

    // Installs the watcher (before any session starts); empty removes it.
    void setWatcher(Watcher watcher);

    // Session side: registers a hold and returns its number. undo() of that
    // number cancels the token (ConfirmationEnd::Cancelled; ShutDown from
    // undoAll()). release() ends the hold, whatever became of the mail.
    int hold(const std::string& subject, int seconds, CancelToken& token);
    void release(int number);

    // User side: undoes the held mail; false when no mail of that number
    // is held (any more).
    bool undo(int number);
    void undoAll();
    // Lets mails be held again after undoAll() (tests that simulate an end).
    void reopen();
    // The mails held now, in order of their numbers.
    std::vector<HeldMail> list();

private:
    struct Entry {
        HeldMail mail;
        CancelToken* token;
        bool announced;  // the watcher heard it begin
    };
    Watcher watcher();

    std::mutex lock_;
    std::map<int, Entry> held_;
    int lastNumber_ = 0;
    bool closed_ = false;
    Watcher watcher_;
};

} // namespace MAIL
