#include "ProgramProcess.h"

#include "relay/RelayTestSupport.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace pelorus::test {

namespace {

using Clock = std::chrono::steady_clock;

int remaining(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

std::vector<char*> pointers(std::vector<std::string>& words)
{
    std::vector<char*> result;
    for (auto& w : words)
        result.push_back(w.data());
    result.push_back(nullptr);
    return result;
}

} // namespace

std::vector<std::string> programEnvironment(const TempDir& home)
{
    for (const char* dir : {"config", "state", "cache", "run", "tmp"})
        std::filesystem::create_directories(home / dir);
    std::vector<std::string> env{"HOME=" + home.path(),
                                 "XDG_CONFIG_HOME=" + (home / "config"),
                                 "XDG_STATE_HOME=" + (home / "state"),
                                 "XDG_CACHE_HOME=" + (home / "cache"),
                                 "XDG_RUNTIME_DIR=" + (home / "run"),
                                 "TEMP=" + (home / "tmp"),
                                 "TMPDIR=" + (home / "tmp"),
                                 "LC_ALL=C.UTF-8",
                                 "PATH=/usr/local/bin:/usr/bin:/bin"};
    for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char* value = std::getenv(keep))
            env.push_back(std::string(keep) + "=" + value);
    return env;
}

ProgramProcess::ProgramProcess(Options options) : home_(options.home != nullptr ? options.home : &ownHome_)
{
    std::vector<std::string> env = programEnvironment(*home_);
    std::vector<std::string> argv;
    if (options.ordinaryUser && ::geteuid() == 0) {
        // Our users are not root: the folders become nobody's, and so does
        // the program.
        for (const auto& entry : std::filesystem::recursive_directory_iterator(home_->path()))
            ::lchown(entry.path().c_str(), 65534, 65534);
        ::lchown(home_->path().c_str(), 65534, 65534);
        argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    }
    argv.push_back(PELORUS_EXECUTABLE);
    argv.insert(argv.end(), options.arguments.begin(), options.arguments.end());

    int master = -1;
    int errPipe[2] = {-1, -1};
    if (options.terminal) {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(master);
        ::unlockpt(master);
    } else {
        ::pipe2(errPipe, O_CLOEXEC);
    }
    const std::string slaveName = options.terminal ? ::ptsname(master) : "";
    pid_ = ::fork();
    if (pid_ == 0) {
        if (options.terminal) {
            ::setsid();
            const int slave = ::open(slaveName.c_str(), O_RDWR);
            ::ioctl(slave, TIOCSCTTY, 0);
            ::dup2(slave, 0);
            ::dup2(slave, 1);
            ::dup2(slave, 2);
        } else {
            const int devnull = ::open("/dev/null", O_RDWR);
            ::dup2(devnull, 0);
            ::dup2(devnull, 1);
            ::dup2(errPipe[1], 2);
        }
        auto args = pointers(argv);
        auto envp = pointers(env);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    if (options.terminal) {
        output_ = master;
    } else {
        ::close(errPipe[1]);
        output_ = errPipe[0];
    }
}

ProgramProcess::~ProgramProcess()
{
    if (status_ == -2)
        terminate(SIGKILL, 10000);
    if (output_ >= 0)
        ::close(output_);
}

void ProgramProcess::collect(int milliseconds)
{
    pollfd wait{output_, POLLIN, 0};
    if (output_ < 0 || ::poll(&wait, 1, milliseconds) <= 0)
        return;
    char chunk[4096];
    const ssize_t n = ::read(output_, chunk, sizeof chunk);
    if (n > 0)
        printed_.append(chunk, static_cast<std::size_t>(n));
    else if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
        ::close(output_);
        output_ = -1;
    }
}

std::string ProgramProcess::output()
{
    collect(0);
    return printed_;
}

bool ProgramProcess::waitForOutput(const std::string& text, int milliseconds, std::size_t offset)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (printed_.find(text, offset) == std::string::npos) {
        if (Clock::now() >= deadline || output_ < 0)
            return printed_.find(text, offset) != std::string::npos;
        collect(remaining(deadline));
    }
    return true;
}

void ProgramProcess::type(const std::string& keys)
{
    if (output_ >= 0)
        (void)::write(output_, keys.data(), keys.size());
}

int ProgramProcess::waitExit(int milliseconds)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (status_ == -2) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (Clock::now() >= deadline)
            return -2;
        collect(20);
    }
    return status_;
}

int ProgramProcess::terminate(int signal, int milliseconds)
{
    if (status_ != -2)
        return status_;
    ::kill(pid_, signal);
    const int status = waitExit(milliseconds);
    if (status == -2) {
        ::kill(pid_, SIGKILL);
        return waitExit(milliseconds);
    }
    return status;
}

bool ProgramProcess::waitListening(std::uint16_t port, int milliseconds)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < deadline) {
        if (auto connection = connectTo(port)) {
            return true;
        }
        collect(50);
    }
    return false;
}

QuickResult runPelorus(const std::vector<std::string>& arguments, const TempDir& home,
                       const std::vector<std::string>& environment)
{
    std::vector<std::string> argv{"/usr/bin/env", "-i"};
    for (const auto& e : programEnvironment(home))
        argv.push_back(e);
    argv.insert(argv.end(), environment.begin(), environment.end());
    argv.push_back(PELORUS_EXECUTABLE);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const ProgramResult result = runProgram(argv, "", 60000);
    return {result.status, result.output, result.errors};
}

} // namespace pelorus::test
