#include "TerminalChild.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelorus::test {

namespace {

// Only a hung child ever reaches this.
constexpr std::chrono::seconds Limit{20};

int exitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

[[noreturn]] void runChild(const TerminalChild::Body& body, const char* slave, int control, bool background)
{
    ::setsid();
    const int terminal = ::open(slave, O_RDWR);
    if (terminal < 0 || ::ioctl(terminal, TIOCSCTTY, 0) != 0)
        ::_exit(101);
    if (!background)
        ::_exit(body(terminal, control));
    // A session leader cannot leave its group: a child of it does.
    const pid_t worker = ::fork();
    if (worker == 0) {
        ::setpgid(0, 0);
        ::_exit(body(terminal, control));
    }
    int status = 0;
    ::waitpid(worker, &status, 0);
    ::_exit(exitCode(status));
}

} // namespace

TerminalChild::TerminalChild(Body body, Group group)
{
    int pipe[2];
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::pipe2(pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("no pseudo-terminal");
    const std::string slave = ::ptsname(master_);
    pid_ = ::fork();
    if (pid_ == 0)
        runChild(body, slave.c_str(), pipe[0], group == Group::Background);
    ::close(pipe[0]);
    control_ = pipe[1];
}

TerminalChild::~TerminalChild()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    ::close(master_);
    ::close(control_);
}

void TerminalChild::readFor(int milliseconds)
{
    pollfd ready{master_, POLLIN, 0};
    char bytes[4096];
    ssize_t got = 0;
    // EIO once the child and its terminal are gone.
    while (::poll(&ready, 1, milliseconds) > 0 && (got = ::read(master_, bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < got; ++i)
            if (bytes[i] != '\r')
                output_ += bytes[i];
        milliseconds = 0;
    }
}

bool TerminalChild::waitForOutput(const std::string& text, std::size_t from)
{
    const auto end = std::chrono::steady_clock::now() + Limit;
    while (output_.find(text, from) == std::string::npos && std::chrono::steady_clock::now() < end)
        readFor(50);
    return output_.find(text, from) != std::string::npos;
}

int TerminalChild::exitStatus()
{
    const auto end = std::chrono::steady_clock::now() + Limit;
    while (pid_ > 0 && std::chrono::steady_clock::now() < end) {
        readFor(50);  // a child printing into a full terminal would never end
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            status_ = exitCode(status);
            readFor(0);
        }
    }
    return status_;
}

void TerminalChild::type(const std::string& keys)
{
    if (::write(master_, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
        throw std::runtime_error("typing failed");
}

void TerminalChild::poke()
{
    if (::write(control_, "!", 1) != 1)
        throw std::runtime_error("poke failed");
}

void waitForPoke(int control)
{
    char byte = 0;
    while (::read(control, &byte, 1) < 0 && errno == EINTR) {
    }
}

} // namespace pelorus::test
