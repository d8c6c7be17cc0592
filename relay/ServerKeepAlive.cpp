#include "relay/ServerKeepAlive.h"

#include "config/LogTag.h"
#include "config/LogWriter.h"

#include <algorithm>
#include <string>

namespace MAIL {

namespace {

constexpr std::string_view LogClass = "ServerKeepAlive";
std::atomic<long long> intervalMilliseconds{30 * 1000};

} // namespace

void ServerKeepAlive::setInterval(std::chrono::milliseconds interval) { intervalMilliseconds.store(interval.count()); }

ServerKeepAlive::ServerKeepAlive(Transport& server, ReplyReader& replies)
    : server_(server), replies_(replies), interval_(intervalMilliseconds.load()), thread_([this] { run(); })
{
}

ServerKeepAlive::~ServerKeepAlive()
{
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void ServerKeepAlive::run()
{
    std::unique_lock guard(lock_);
    while (!wake_.wait_for(guard, interval_, [this] { return stopping_; })) {
        guard.unlock();
        const bool alive = noop();
        guard.lock();
        if (!alive) {
            lost_.store(true);
            return;
        }
    }
}

bool ServerKeepAlive::noop()
{
    const int milliseconds = static_cast<int>(interval_.count());
    const int seconds = std::max(1, milliseconds / 1000);
    trace(getLogWriter(), "%s,1,NOOP after %d ms of silence", logTag(LogClass).c_str(), milliseconds);
    std::string reply;
    int code = 0;
    const bool answered = server_.sendAll("NOOP\r\n", 6, seconds) == 6 && replies_.read(reply, code, milliseconds);
    if (answered && is2xx(code))
        return true;
    error(getLogWriter(), "%s,2,The SMTP server did not answer NOOP (code=%d): it counts as lost",
          logTag(LogClass).c_str(), code);
    return false;
}

} // namespace MAIL
