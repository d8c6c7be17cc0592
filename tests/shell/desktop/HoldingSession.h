// The session's side of a held mail, for the desktop tests of the undo
// hold: the user's undo shows on its token, and the hold ends (release())
// at the latest when the test is done with it.
#pragma once

#include "relay/HeldMails.h"

#include <string>

namespace pelorus::test {

struct HoldingSession {
    MAIL::CancelToken token;
    int number;
    explicit HoldingSession(const std::string& subject, int seconds = 10)
        : number(MAIL::HeldMails::instance().hold(subject, seconds, token))
    {
    }
    HoldingSession(const HoldingSession&) = delete;
    HoldingSession& operator=(const HoldingSession&) = delete;
    ~HoldingSession() { release(); }
    void release() { MAIL::HeldMails::instance().release(number); }
};

} // namespace pelorus::test
