#include "FakeSmtpServer.h"

#include <algorithm>
#include <cctype>
#include <thread>

#include <unistd.h>

namespace pelorus::test {

FakeSmtpServer::FakeSmtpServer() : FakeSmtpServer(Behaviour()) {}

FakeSmtpServer::FakeSmtpServer(Behaviour behaviour)
    : behaviour_(std::move(behaviour)), server_([this](Connection& c) { converse(c); })
{
}

std::string FakeSmtpServer::received() const
{
    std::lock_guard guard(lock_);
    return received_;
}

std::vector<std::string> FakeSmtpServer::mails() const
{
    std::lock_guard guard(lock_);
    return mails_;
}

std::vector<int> FakeSmtpServer::bursts() const
{
    std::lock_guard guard(lock_);
    return bursts_;
}

void FakeSmtpServer::reply(Connection& connection, const std::string& text) const
{
    if (behaviour_.replyDelayMilliseconds > 0)
        ::usleep(behaviour_.replyDelayMilliseconds * 1000);
    const std::size_t piece = behaviour_.replyPieceBytes == 0 ? text.size() : behaviour_.replyPieceBytes;
    for (std::size_t at = 0; at < text.size(); at += piece) {
        if (at > 0)
            ::usleep(20000);  // a separate segment
        connection.send(text.substr(at, piece));
    }
}

void FakeSmtpServer::converse(Connection& connection)
{
    std::map<std::string, int> uses;
    bool inBurst = false;
    if (!connection.send(behaviour_.greeting) || behaviour_.greeting.rfind("220", 0) != 0)
        return;
    for (;;) {
        const std::string line = connection.readLine(30000);
        if (line.empty())
            return;
        {
            std::lock_guard guard(lock_);
            received_ += line;
            if (inBurst)
                ++bursts_.back();
            else
                bursts_.push_back(1);
        }
        inBurst = connection.hasLine();
        // Read as a lenient server reads: white space before the verb is
        // skipped, and words end at space, tab, vertical tab or form feed.
        const std::size_t from = std::min(line.find_first_not_of(" \t\v\f"), line.size());
        std::string verb = line.substr(from, line.find_first_of(" \t\v\f\r\n", from) - from);
        std::transform(verb.begin(), verb.end(), verb.begin(), [](unsigned char c) { return std::toupper(c); });
        auto special = behaviour_.replies.find(verb + "#" + std::to_string(++uses[verb]));
        if (special == behaviour_.replies.end())
            special = behaviour_.replies.find(verb);
        if (special != behaviour_.replies.end() && special->second == "CLOSE")
            return;
        if (special != behaviour_.replies.end() && verb != "DATA") {
            reply(connection, special->second);
            if (special->second.rfind("221", 0) == 0)
                return;
            continue;
        }
        if (verb == "EHLO") {
            for (std::size_t i = 0; i < behaviour_.ehloPieces.size(); ++i) {
                if (i > 0)
                    ::usleep(30000);  // a separate segment
                connection.send(behaviour_.ehloPieces[i]);
            }
        } else if (verb == "QUIT") {
            connection.send("221 2.0.0 Bye\r\n");
            return;
        } else if (verb == "DATA") {
            if (special != behaviour_.replies.end()) {
                connection.send(special->second);
                continue;
            }
            connection.send("354 go ahead\r\n");
            const std::size_t cut = std::max(behaviour_.closeAfterDataBytes, behaviour_.stopReadingAfterDataBytes);
            std::string data;
            // The CR LF that ended DATA starts the end mark: ".\r\n" alone is
            // an empty mail.
            const auto ended = [](const std::string& d) {
                const std::string tail = d.size() >= 5 ? d.substr(d.size() - 5) : "\r\n" + d;
                return tail.size() >= 5 && tail.compare(tail.size() - 5, 5, "\r\n.\r\n") == 0;
            };
            for (;;) {
                const std::string piece = connection.readSome(30000);
                if (piece.empty())
                    break;
                data += piece;
                if ((cut != 0 && data.size() >= cut) || ended(data))
                    break;
            }
            if (cut != 0) {
                {
                    std::lock_guard guard(lock_);
                    received_ += data;
                }
                // Gone in the middle of the mail, or silent and not reading
                // until the proxy gives up.
                if (behaviour_.stopReadingAfterDataBytes != 0)
                    connection.waitPeerGone(60000);
                return;
            }
            {
                std::lock_guard guard(lock_);
                received_ += data;
                mails_.push_back(data);
            }
            connection.send("250 2.0.0 queued\r\n");
        } else {
            reply(connection, "250 2.0.0 Ok\r\n");
        }
    }
}

} // namespace pelorus::test
