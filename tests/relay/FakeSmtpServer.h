// A scripted SMTP server that behaves like a plain one unless told
// otherwise, and records every byte it receives. It reads command lines as
// leniently as some deployed servers do (see converse()), so a test can
// show that no such reading lets a command past the proxy. For what a real server will
// not do on demand: odd replies, replies split across segments, closing or
// falling silent in the middle of a mail.
#pragma once

#include "RelayTestSupport.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace pelorus::test {

class FakeSmtpServer {
public:
    struct Behaviour {
        std::string greeting = "220 fake.example ESMTP\r\n";
        // Reply per upper-case verb, replacing the plain one; "VERB#n"
        // replaces it for the n-th use of the verb only. "CLOSE" closes the
        // connection instead of answering.
        std::map<std::string, std::string> replies;
        // Each reply is sent in pieces of this many bytes, with a pause
        // between them (0: whole), after this pause (0: at once).
        std::size_t replyPieceBytes = 0;
        int replyDelayMilliseconds = 0;
        // The EHLO reply, sent in these pieces with a pause between them.
        std::vector<std::string> ehloPieces{"250-fake.example\r\n250-PIPELINING\r\n250 HELP\r\n"};
        // In the data: close the connection after this many bytes (0: never).
        std::size_t closeAfterDataBytes = 0;
        // In the data: stop reading after this many bytes (0: never).
        std::size_t stopReadingAfterDataBytes = 0;
    };

    FakeSmtpServer();
    explicit FakeSmtpServer(Behaviour behaviour);

    std::uint16_t port() const { return server_.port(); }
    int connections() const { return server_.connections(); }
    // Every byte received, over all connections.
    std::string received() const;
    // The data of each mail received whole (end mark included).
    std::vector<std::string> mails() const;
    // How the commands arrived: the sizes of the runs of commands that were
    // already there, all of them, when the first of the run was read.
    std::vector<int> bursts() const;

private:
    void converse(Connection& connection);
    void reply(Connection& connection, const std::string& text) const;

    Behaviour behaviour_;
    mutable std::mutex lock_;
    std::string received_;
    std::vector<std::string> mails_;
    std::vector<int> bursts_;
    ScriptedServer server_;
};

} // namespace pelorus::test
