// Peers and fixtures for the relay tests: a real SMTP server (aiosmtpd), a
// scripted server for what a real one will not do on demand, a raw client,
// the proxy itself in-process with a scripted presenter, and a runner for
// real client programs. Everything listens on 127.0.0.1 only, and every
// process or thread a helper starts, its destructor stops.
#pragma once

#include "relay/AddressConfirmationDialog.h"
#include "relay/ConfirmationPresenter.h"
#include "relay/Notifications.h"
#include "support/TempDir.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace pelorus::test {

// A free TCP port on 127.0.0.1 (bound and released).
std::uint16_t freePort();

// The real SMTP server, /usr/bin/python3 tests/relay/smtp_sink.py.
class SmtpSink {
public:
    struct Mail {
        std::string sender;
        std::vector<std::string> recipients;
        std::string message;
    };
    explicit SmtpSink(std::vector<std::string> options = {});
    SmtpSink(const SmtpSink&) = delete;
    SmtpSink& operator=(const SmtpSink&) = delete;
    ~SmtpSink();

    std::uint16_t port() const { return port_; }
    // The mails received so far, in order.
    std::vector<Mail> mails() const;
    // Waits up to the limit until at least count mails were received.
    bool waitForMails(std::size_t count, int milliseconds) const;
    // The commands the sink journals ("MAIL tls=1 <a@b>" lines), in order.
    std::string journal() const;
    std::string journalPath() const { return dir_ / "commands.log"; }

private:
    TempDir dir_;
    pid_t pid_ = -1;
    int input_ = -1;
    std::uint16_t port_ = 0;
};

// One connection as seen by a scripted peer.
class Connection {
public:
    explicit Connection(int fd) : fd_(fd) {}
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();

    bool send(const std::string& text);
    // Reads one line (up to LF), or "" when the peer closed or the limit passed.
    std::string readLine(int milliseconds = 10000);
    // Reads a whole SMTP reply (multi-line aware).
    std::string readReply(int milliseconds = 10000);
    // Reads until the text ends with mark (or the peer closes); all read.
    std::string readUntil(const std::string& mark, int milliseconds = 10000);
    // Whether a whole line was already received and not yet read.
    bool hasLine() const { return buffer_.find('\n') != std::string::npos; }
    // Whatever arrives next (buffered bytes first); "" when closed or late.
    std::string readSome(int milliseconds = 10000);
    // Waits, without reading, until the peer has closed its side.
    bool waitPeerGone(int milliseconds);
    // Reads until the peer closes; true when it did within the limit.
    bool waitClosed(int milliseconds = 10000, std::string* rest = nullptr);
    void close();
    int fd() const { return fd_; }

private:
    bool fill(int milliseconds);
    int fd_;
    std::string buffer_;
};

// A scripted SMTP server: each accepted connection runs the script on its
// own thread.
class ScriptedServer {
public:
    using Script = std::function<void(Connection&)>;
    explicit ScriptedServer(Script script);
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;
    ~ScriptedServer();

    std::uint16_t port() const { return port_; }
    int connections() const { return connections_.load(); }

private:
    Script script_;
    int listen_ = -1;
    int stop_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<int> connections_{0};
    std::thread acceptor_;
    std::mutex lock_;
    std::vector<std::thread> workers_;
};

// A raw client of the proxy.
std::unique_ptr<Connection> connectTo(std::uint16_t port);

// What the scripted presenter saw and answered.
struct Presented {
    std::string subject, to, cc, bcc, security, message;
    std::vector<MAIL::ConfirmationRow> toRows, ccRows, bccRows, attachmentRows, securityRows;
    bool toEnabled;
    int timeout;
};

// Answers every confirmation with the given result (or waits for a cancel
// when answer is 0), recording what it was shown.
class ScriptedPresenter : public MAIL::ConfirmationPresenter {
public:
    explicit ScriptedPresenter(int answer) : answer_(answer) {}
    int present(const MAIL::AddressConfirmationDialog& model, MAIL::CancelToken& cancel) override;
    std::vector<Presented> shown() const;
    void setAnswer(int answer) { answer_ = answer; }
    // Answers only after this long (a user who takes their time).
    void setDelay(int milliseconds) { delay_ = milliseconds; }
    // Waits until count confirmations were presented.
    bool waitForShown(std::size_t count, int milliseconds) const;

private:
    std::atomic<int> answer_;
    std::atomic<int> delay_{0};
    mutable std::mutex lock_;
    std::vector<Presented> shown_;
};

// Records balloons and message boxes while it lives.
class NoticeRecorder {
public:
    NoticeRecorder();
    NoticeRecorder(const NoticeRecorder&) = delete;
    NoticeRecorder& operator=(const NoticeRecorder&) = delete;
    ~NoticeRecorder();
    std::vector<MAIL::Balloon> balloons() const;
    std::vector<std::string> boxes() const;
    // True once a balloon holding text was shown (waits up to 5 seconds).
    bool hasBalloonContaining(const std::string& text) const;

private:
    mutable std::mutex lock_;
    std::vector<MAIL::Balloon> balloons_;
    std::vector<std::string> boxes_;
};

// The proxy in this process: settings in a private config folder, a
// private spool folder, a private state folder (the record of decisions), the listener on a free port, a scripted presenter.
class ProxyRunner {
public:
    ProxyRunner(std::uint16_t serverPort, int answer = 1);
    ProxyRunner(const ProxyRunner&) = delete;
    ProxyRunner& operator=(const ProxyRunner&) = delete;
    ~ProxyRunner();

    std::uint16_t port() const { return port_; }
    ScriptedPresenter& presenter() { return *presenter_; }
    NoticeRecorder& notices() { return notices_; }
    const TempDir& home() const { return home_; }
    std::string spoolFolder() const;
    std::string decisionFile() const { return home_ / "state/Pelorus/decisions.jsonl"; }
    // The history of sent recipients, and writing it as given.
    std::string historyFile() const { return home_ / "state/Pelorus/SentRecipients"; }
    void writeHistory(const std::string& content);
    // Writes a list file (one entry per line) into the config folder.
    void writeList(const std::string& name, const std::vector<std::string>& entries);
    // Waits until no session runs any more.
    bool waitIdle(int milliseconds = 20000) const;

private:
    TempDir home_;
    ScopedEnv config_;
    ScopedEnv temp_;
    ScopedEnv state_;
    NoticeRecorder notices_;
    std::shared_ptr<ScriptedPresenter> presenter_;
    std::uint16_t port_ = 0;
    class Listener;
    std::unique_ptr<Listener> listener_;
};

// Runs a program with arguments and standard input; returns its exit
// status (-1 when it could not run or was killed after the limit).
struct ProgramResult {
    int status = -1;
    std::string output;
    std::string errors;
};
ProgramResult runProgram(const std::vector<std::string>& argv, const std::string& input = "",
                         int milliseconds = 60000);

// A test CA made by the openssl command in a temporary folder, with server
// certificates it signed: "good" for localhost and 127.0.0.1, "other" for
// other names only (mail.example.test, *.example.test, 192.0.2.1),
// "partial" with a wildcard inside a label (mail*.example.test); and
// "self", self-signed for localhost and 127.0.0.1.
class TestCertificates {
public:
    TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    std::string ca() const { return dir_ / "ca.pem"; }
    // Options for smtp_sink.py serving the named certificate in the mode.
    std::vector<std::string> serve(const std::string& name, const char* mode) const
    {
        return {"--cert", dir_ / (name + ".pem"), "--key", dir_ / (name + ".key"), mode};
    }

private:
    void issue(const std::string& name, const std::string& commonName, const std::string& names);

    TempDir dir_;
};

// Starts a helper program that prints the port it listens on as its first
// line; its standard input comes from input (-1: this process's). Answers
// its pid, and the port (0 when none came within 20 seconds).
pid_t startListeningHelper(std::vector<std::string> argv, int input, std::uint16_t& port);

// The folder of this test source (for the helper scripts).
std::string relayTestFolder();

} // namespace pelorus::test
