#include "DesktopProcess.h"

#include "ProgramProcess.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelorus::test {

DesktopProcess::DesktopProcess(const TempDir& home, const std::vector<std::string>& arguments,
                               const std::vector<std::string>& changes)
    : log_(home / "output.txt")
{
    std::vector<std::string> env = programEnvironment(home);
    ::chmod((home / "run").c_str(), 0700);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + (home / "run/no-bus"));
    for (const std::string& change : changes) {
        const std::string name = change.substr(0, change.find('=') + 1);
        std::erase_if(env, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
        if (change.size() > name.size())
            env.push_back(change);
    }
    std::vector<std::string> argv{PELORUS_EXECUTABLE};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    pid_ = ::fork();
    if (pid_ == 0) {
        FILE* out = std::fopen(log_.c_str(), "w");
        if (out != nullptr) {
            ::dup2(fileno(out), 1);
            ::dup2(fileno(out), 2);
        }
        std::vector<char*> args, envp;
        for (auto& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
}

DesktopProcess::~DesktopProcess()
{
    if (pid_ > 0 && status_ == -2) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool DesktopProcess::waitForOutput(const std::string& text, int milliseconds) const
{
    return pollUntil([&] { return output().find(text) != std::string::npos; }, milliseconds);
}

int DesktopProcess::waitExit(int milliseconds)
{
    int status = 0;
    const bool ended = pollUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, milliseconds);
    if (!ended)
        return -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_;
}

void DesktopProcess::signal(int number) { ::kill(pid_, number); }

bool pollUntil(const std::function<bool()>& done, int milliseconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::unique_ptr<Connection> connectWhenListening(std::uint16_t port)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto client = connectTo(port))
            return client;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return nullptr;
}

} // namespace pelorus::test
