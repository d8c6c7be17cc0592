#include "WestonTestSupport.h"

#include "DesktopProcess.h"
#include "relay/RelayTestSupport.h"
#include "shell/Program.h"

#include <csignal>
#include <sstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelorus::test {

HeadlessWeston::HeadlessWeston()
{
    ::chmod(runtime_.path().c_str(), 0700);
    const std::string logFile = log_ / "weston.log";
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);  // weston and the clients it launches, stopped as one group
        ::setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
        ::unsetenv("WAYLAND_DISPLAY");
        ::unsetenv("DISPLAY");
        ::execlp("weston", "weston", "--backend=headless-backend.so", "--no-config", "--idle-time=0",
                 "--debug", (std::string("--socket=") + SocketName).c_str(),
                 (std::string("--log=") + logFile).c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const std::string socket = runtime_ / SocketName;
    started_ = pid_ > 0 && pollUntil([&] { return MAIL::waylandDisplayReachable(socket); }, 20000);
}

HeadlessWeston::~HeadlessWeston()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    ::kill(-pid_, SIGKILL);  // a launched client that outlived it
}

std::string westonSceneGraph()
{
    return runProgram({"weston-debug", "scene-graph"}, "", 10000).output;
}

bool showsWindow(const std::string& sceneGraph, pid_t pid, const std::string& title)
{
    std::istringstream lines(sceneGraph);
    const std::string process = "PID " + std::to_string(pid) + ",";
    const std::string window = "top-level window '" + title + "'";
    for (std::string line; std::getline(lines, line);)
        if (line.find(process) != std::string::npos && line.find(window) != std::string::npos)
            return true;
    return false;
}

} // namespace pelorus::test
