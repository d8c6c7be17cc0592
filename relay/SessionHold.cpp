// The wait between the end of a mail's data and its forwarding: the user's
// answer, then the hold.
//
// With SendDelay at N > 0 seconds, a mail the user confirmed waits N seconds
// before the server hears anything of it, and so does a mail that needed no
// question while HoldTrusted is on. The held mail is listed in HeldMails,
// where the shells undo it. Undone, it is cancelled like a mail the user
// said no to (450, RSET, QUIT), with its own notice. The program ending
// undoes it as well; a client that hangs up meanwhile cancels it. Nothing
// held is ever sent unless its hold ran out.
//
// While the mail waits, for the answer or in the hold, the server
// connection is kept alive with NOOP; a server lost meanwhile means the
// mail cannot go, and the client hears so whatever the answer was.
#include "relay/SMTPCommunicator.h"

#include "config/LogTag.h"
#include "config/LogWriter.h"
#include "relay/HeldMails.h"
#include "relay/Notifications.h"
#include "relay/SessionText.h"

#include <algorithm>
#include <optional>

#include <poll.h>

using namespace MAIL;

namespace {

constexpr std::string_view LogClass = "SMTPCommunicator";
// How often a hold looks at the client and the server connection.
constexpr std::chrono::milliseconds HoldLook{200};

} // namespace

SMTPCommunicator::Decision SMTPCommunicator::settle(const std::string& subject, bool question,
                                                    const MailSettings& settings)
{
    const int delay = settings.sendDelay;
    const bool holds = delay > 0 && (question || settings.holdTrusted);
    Decision decision = Decision::Send;
    bool lost = false;
    // A shut-down spares the session until its client has had the answer:
    // it cancels the wait, and the 450 must still reach the client.
    std::optional<Raised> waiting;
    if (question || holds) {
        waiting.emplace(waiting_);
        const ServerKeepAlive keepAlive(*server_, serverReplies_);
        if (question)
            decision = ask(subject);
        if (decision == Decision::Send && holds)
            decision = hold(subject, delay, keepAlive);
        lost = keepAlive.lost();
    }
    try {
        if (lost)
            lostWhileWaiting(subject);
        else if (decision == Decision::Cancel)
            reset(subject, record_.decision == MailOutcome::Undone ? "Sending was undone:" : "Cancelled a mail:");
        else
            sendData(subject);
    } catch (...) {
        if (!question)
            throw;
        // Shown only now that the client has had its reply (or is gone).
        setStage(Stage::Closing);
        showMessageBox("Debug", "Something Exception", NoticeKind::Information);
    }
    return lost ? Decision::Cancel : decision;
}

SMTPCommunicator::Decision SMTPCommunicator::hold(const std::string& subject, int seconds,
                                                  const ServerKeepAlive& keepAlive)
{
    CancelToken token;
    HeldMails& held = HeldMails::instance();
    const int number = held.hold(subject, seconds, token);
    record_.holdSeconds = seconds;
    debug(getLogWriter(), "%s,1,Holding mail %d for %d s", logTag(LogClass).c_str(), number, seconds);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool gone = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || keepAlive.lost() || (gone = clientHungUp()) ||
            token.waitFor(static_cast<int>(std::min(left, HoldLook).count())))
            break;
    }
    held.release(number);
    if (!gone && !token.isCancelled())
        return Decision::Send;
    // Undone by the user; else the program ended or the client left, and
    // nobody decided.
    const bool undone = !gone && token.reason() == ConfirmationEnd::Cancelled;
    debug(getLogWriter(), "%s,2,Mail %d %s", logTag(LogClass).c_str(), number,
          undone ? "undone" : gone ? "cancelled: the client hung up" : "cancelled: the program ends");
    record_.decision = undone ? MailOutcome::Undone : MailOutcome::Cancelled;
    record_.decidedBy = undone ? DecidedBy::User : DecidedBy::Nobody;
    return Decision::Cancel;
}

bool SMTPCommunicator::clientHungUp() const
{
    pollfd entry{clientSocket_.getHandle(), POLLRDHUP, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void SMTPCommunicator::lostWhileWaiting(const std::string& subject)
{
    closeServer();  // the record still says how the user decided, or "failed"
    showErrorBalloon(subjectNotice("Failed to send a mail:", balloonSubject(subject, 210)));
    tellClient(proxyReply(ProxyReply::LostServerWhileWaiting));  // the session ends either way
    setStage(Stage::Closing);
}
