#include "RelayTestSupport.h"

#include "config/ProxyConfiguration.h"
#include "relay/SMTPProxy.h"
#include "relay/SessionRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelorus::test {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

int listenOnLoopback(std::uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 50) != 0) {
        ::close(fd);
        return -1;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

bool completeReply(const std::string& text, std::size_t& end)
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t lf = text.find('\n', start);
        if (lf == std::string::npos)
            return false;
        if (!(lf - start >= 4 && text[start + 3] == '-')) {
            end = lf + 1;
            return true;
        }
        start = lf + 1;
    }
}

} // namespace

std::string relayTestFolder() { return PELORUS_RELAY_TEST_FOLDER; }

std::uint16_t freePort()
{
    std::uint16_t port = 0;
    const int fd = listenOnLoopback(port);
    ::close(fd);
    return port;
}

// ---- SmtpSink --------------------------------------------------------------

pid_t startListeningHelper(std::vector<std::string> argv, int input, std::uint16_t& port)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (input >= 0)
            ::dup2(input, 0);
        ::dup2(out[1], 1);
        std::vector<char*> args;
        for (auto& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c;
    pollfd wait{out[0], POLLIN, 0};
    while (::poll(&wait, 1, 20000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(out[0]);
    port = static_cast<std::uint16_t>(std::atoi(line.c_str()));
    return pid;
}

SmtpSink::SmtpSink(std::vector<std::string> options)
{
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    std::vector<std::string> argv{"/usr/bin/python3", relayTestFolder() + "/smtp_sink.py", "--dir", dir_.path()};
    argv.insert(argv.end(), options.begin(), options.end());
    pid_ = startListeningHelper(argv, in[0], port_);
    ::close(in[0]);
    input_ = in[1];
    if (port_ == 0)
        throw std::runtime_error("the SMTP sink did not start");
}

SmtpSink::~SmtpSink()
{
    ::close(input_);
    if (pid_ > 0) {
        int status = 0;
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_)
                return;
            ::usleep(50000);
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
}

std::vector<SmtpSink::Mail> SmtpSink::mails() const
{
    std::vector<Mail> result;
    for (int n = 1;; ++n) {
        char base[16];
        std::snprintf(base, sizeof base, "%04d", n);
        const std::string env = dir_ / (std::string(base) + ".env");
        if (!pathExists(env))
            break;
        Mail mail;
        std::istringstream lines(readFile(env));
        std::getline(lines, mail.sender);
        for (std::string r; std::getline(lines, r);)
            mail.recipients.push_back(r);
        mail.message = readFile(dir_ / (std::string(base) + ".eml"));
        result.push_back(std::move(mail));
    }
    return result;
}

bool SmtpSink::waitForMails(std::size_t count, int milliseconds) const
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (mails().size() < count) {
        if (Clock::now() >= deadline)
            return false;
        ::usleep(20000);
    }
    return true;
}

std::string SmtpSink::journal() const
{
    const std::string path = journalPath();
    return pathExists(path) ? readFile(path) : std::string();
}

// ---- Connection ------------------------------------------------------------

Connection::~Connection() { close(); }

void Connection::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool Connection::send(const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool Connection::fill(int milliseconds)
{
    pollfd wait{fd_, POLLIN, 0};
    if (fd_ < 0 || ::poll(&wait, 1, milliseconds) <= 0)
        return false;
    char chunk[65536];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0)
        return false;
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
}

std::string Connection::readLine(int milliseconds)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const std::size_t lf = buffer_.find('\n');
        if (lf != std::string::npos) {
            std::string line = buffer_.substr(0, lf + 1);
            buffer_.erase(0, lf + 1);
            return line;
        }
        if (!fill(remainingMs(deadline)))
            return "";
    }
}

std::string Connection::readReply(int milliseconds)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        std::size_t end = 0;
        if (completeReply(buffer_, end)) {
            std::string reply = buffer_.substr(0, end);
            buffer_.erase(0, end);
            return reply;
        }
        if (!fill(remainingMs(deadline)))
            return "";
    }
}

std::string Connection::readUntil(const std::string& mark, int milliseconds)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const std::size_t at = buffer_.find(mark);
        if (at != std::string::npos) {
            std::string text = buffer_.substr(0, at + mark.size());
            buffer_.erase(0, at + mark.size());
            return text;
        }
        if (!fill(remainingMs(deadline))) {
            std::string text;
            text.swap(buffer_);
            return text;
        }
    }
}

std::string Connection::readSome(int milliseconds)
{
    if (buffer_.empty() && !fill(milliseconds))
        return "";
    std::string text;
    text.swap(buffer_);
    return text;
}

bool Connection::waitPeerGone(int milliseconds)
{
    pollfd wait{fd_, POLLRDHUP, 0};
    return ::poll(&wait, 1, milliseconds) > 0;
}

bool Connection::waitClosed(int milliseconds, std::string* rest)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        pollfd wait{fd_, POLLIN, 0};
        if (::poll(&wait, 1, remainingMs(deadline)) <= 0)
            return false;
        char chunk[65536];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            if (rest != nullptr)
                *rest = buffer_;
            return true;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

std::unique_ptr<Connection> connectTo(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<Connection>(fd);
}

// ---- ScriptedServer --------------------------------------------------------

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script))
{
    listen_ = listenOnLoopback(port_);
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    acceptor_ = std::thread([this] {
        for (;;) {
            pollfd waits[2] = {{listen_, POLLIN, 0}, {stop_, POLLIN, 0}};
            if (::poll(waits, 2, -1) < 0 || waits[1].revents != 0)
                return;
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            ++connections_;
            std::lock_guard guard(lock_);
            workers_.emplace_back([this, fd] {
                Connection connection(fd);
                script_(connection);
            });
        }
    });
}

ScriptedServer::~ScriptedServer()
{
    const std::uint64_t one = 1;
    (void)::write(stop_, &one, sizeof one);
    acceptor_.join();
    for (auto& worker : workers_)
        worker.join();
    ::close(listen_);
    ::close(stop_);
}

// ---- ScriptedPresenter -----------------------------------------------------

int ScriptedPresenter::present(const MAIL::AddressConfirmationDialog& model, MAIL::CancelToken& cancel)
{
    Presented seen{model.getSubject(), model.getTo(),          model.getCc(),          model.getBcc(),
                   model.getSecurity(), model.messageText(),   model.toRows(),         model.ccRows(),
                   model.bccRows(),     model.attachmentRows(), model.securityRows(), model.isToEnabled(),
                   model.getTimeout()};
    {
        std::lock_guard guard(lock_);
        shown_.push_back(std::move(seen));
    }
    if (delay_.load() > 0 && cancel.waitFor(delay_.load()))
        return 2;
    const int answer = answer_.load();
    if (answer != 0)
        return answer;
    // Wait for a cancel request (a newer confirmation, shut-down).
    while (!cancel.waitFor(1000)) {
    }
    return 2;
}

std::vector<Presented> ScriptedPresenter::shown() const
{
    std::lock_guard guard(lock_);
    return shown_;
}

bool ScriptedPresenter::waitForShown(std::size_t count, int milliseconds) const
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (shown().size() < count) {
        if (Clock::now() >= deadline)
            return false;
        ::usleep(10000);
    }
    return true;
}

// ---- NoticeRecorder --------------------------------------------------------

NoticeRecorder::NoticeRecorder()
{
    MAIL::setNotificationSink([this](const MAIL::Balloon& balloon) {
        std::lock_guard guard(lock_);
        balloons_.push_back(balloon);
    });
    MAIL::setMessageBoxSink([this](const std::string& title, const std::string& text, MAIL::NoticeKind) {
        std::lock_guard guard(lock_);
        boxes_.push_back(title + ": " + text);
    });
}

NoticeRecorder::~NoticeRecorder()
{
    MAIL::setNotificationSink(nullptr);
    MAIL::setMessageBoxSink(nullptr);
}

std::vector<MAIL::Balloon> NoticeRecorder::balloons() const
{
    std::lock_guard guard(lock_);
    return balloons_;
}

std::vector<std::string> NoticeRecorder::boxes() const
{
    std::lock_guard guard(lock_);
    return boxes_;
}

bool NoticeRecorder::hasBalloonContaining(const std::string& text) const
{
    // A balloon may follow the reply the test has just read: allow it time.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    do {
        for (const auto& balloon : balloons())
            if (balloon.text.find(text) != std::string::npos)
                return true;
        ::usleep(10000);
    } while (Clock::now() < deadline);
    return false;
}

// ---- ProxyRunner -----------------------------------------------------------

class ProxyRunner::Listener {
public:
    Listener()
    {
        auto* proxy = new SMTPProxy();
        handle_ = proxy->getHandle();
        proxy_ = proxy;
        proxy->start();
    }
    ~Listener()
    {
        proxy_->stop();
        handle_.wait(10000);
    }

private:
    SMTPProxy* proxy_;
    MAIL::ThreadHandle handle_;
};

ProxyRunner::ProxyRunner(std::uint16_t serverPort, int answer)
    : config_("XDG_CONFIG_HOME", home_ / "config"), temp_("TEMP", home_ / "tmp"),
      state_("XDG_STATE_HOME", home_ / "state"),
      presenter_(std::make_shared<ScriptedPresenter>(answer))
{
    MAIL::ProxyConfiguration settings;
    port_ = freePort();
    settings.setServer("127.0.0.1");
    settings.setPort(serverPort);
    settings.setProxyPort(port_);
    MAIL::setConfirmationPresenter(presenter_);
    MAIL::reopenConfirmations();
    listener_ = std::make_unique<Listener>();
}

ProxyRunner::~ProxyRunner()
{
    listener_.reset();
    EXPECT_TRUE(waitIdle()) << "sessions still running at the end of the test";
    MAIL::setConfirmationPresenter(nullptr);
}

std::string ProxyRunner::spoolFolder() const { return home_ / "tmp/pelorus"; }

void ProxyRunner::writeList(const std::string& name, const std::vector<std::string>& entries)
{
    std::filesystem::create_directories(home_ / "config/Pelorus");
    std::string content;
    for (const auto& entry : entries)
        content += entry + "\n";
    writeFile(home_ / ("config/Pelorus/" + name), content);
}

void ProxyRunner::writeHistory(const std::string& content)
{
    std::filesystem::create_directories(home_ / "state/Pelorus");
    writeFile(historyFile(), content);
}

bool ProxyRunner::waitIdle(int milliseconds) const
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (MAIL::SessionRegistry::instance().count() != 0) {
        if (Clock::now() >= deadline)
            return false;
        ::usleep(10000);
    }
    return true;
}

// ---- runProgram ------------------------------------------------------------

ProgramResult runProgram(const std::vector<std::string>& argv, const std::string& input, int milliseconds)
{
    ProgramResult result;
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return result;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        std::vector<char*> args;
        std::vector<std::string> copy = argv;
        for (auto& a : copy)
            args.push_back(a.data());
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    std::size_t written = 0;
    int inFd = in[1];
    if (input.empty()) {
        ::close(inFd);
        inFd = -1;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    bool outOpen = true, errOpen = true;
    while ((outOpen || errOpen) && Clock::now() < deadline) {
        pollfd waits[3] = {{outOpen ? out[0] : -1, POLLIN, 0},
                           {errOpen ? err[0] : -1, POLLIN, 0},
                           {inFd, POLLOUT, 0}};
        if (::poll(waits, 3, remainingMs(deadline)) <= 0)
            break;
        char chunk[65536];
        for (int k = 0; k < 2; ++k) {
            if (waits[k].revents == 0)
                continue;
            const ssize_t n = ::read(waits[k].fd, chunk, sizeof chunk);
            if (n <= 0) {
                (k == 0 ? outOpen : errOpen) = false;
                continue;
            }
            (k == 0 ? result.output : result.errors).append(chunk, static_cast<std::size_t>(n));
        }
        if (inFd >= 0 && waits[2].revents != 0) {
            const ssize_t n = ::write(inFd, input.data() + written, input.size() - written);
            if (n > 0)
                written += static_cast<std::size_t>(n);
            if (n <= 0 || written == input.size()) {
                ::close(inFd);
                inFd = -1;
            }
        }
    }
    if (inFd >= 0)
        ::close(inFd);
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline)
            ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

namespace {

void runOpenssl(const std::vector<std::string>& argv)
{
    const ProgramResult result = runProgram(argv);
    if (result.status != 0)
        throw std::runtime_error("openssl failed: " + result.errors);
}

} // namespace

TestCertificates::TestCertificates()
{
    const std::string ca = dir_ / "ca";
    runOpenssl({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-keyout", ca + ".key", "-out", ca + ".pem", "-days", "2", "-subj", "/CN=Pelorus Test CA", "-addext",
                "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
    issue("good", "localhost", "DNS:localhost,IP:127.0.0.1");
    issue("other", "mail.example.test", "DNS:mail.example.test,DNS:*.example.test,IP:192.0.2.1");
    issue("partial", "mail1.example.test", "DNS:mail*.example.test");
    runOpenssl({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-keyout", dir_ / "self.key", "-out", dir_ / "self.pem", "-days", "2", "-subj", "/CN=localhost",
                "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"});
}

void TestCertificates::issue(const std::string& name, const std::string& commonName, const std::string& names)
{
    const std::string base = dir_ / name;
    runOpenssl({"openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                base + ".key", "-out", base + ".csr", "-subj", "/CN=" + commonName});
    writeFile(base + ".ext",
              "subjectAltName=" + names + "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
    runOpenssl({"openssl", "x509", "-req", "-in", base + ".csr", "-CA", dir_ / "ca.pem", "-CAkey", dir_ / "ca.key",
                "-CAcreateserial", "-out", base + ".pem", "-days", "2", "-extfile", base + ".ext"});
}

} // namespace pelorus::test
