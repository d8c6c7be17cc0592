#include "shell/Program.h"

#include "config/LogWriter.h"
#include "config/ProxyConfiguration.h"
#include "foundation/Diagnostics.h"
#include "foundation/FileDescriptor.h"
#include "foundation/UserFolders.h"
#include "relay/DecisionRecord.h"
#include "relay/SMTPMessage.h"
#include "relay/SMTPProxy.h"
#include "shell/SingleInstance.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace MAIL {

void prepareProcess()
{
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGHUP);
    // Blocked before any thread exists, so every thread inherits the mask
    // and only the main loop's signalfd sees them.
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    std::setlocale(LC_ALL, "");
}

namespace {

// Connects to a stream socket within the limit; true when it accepted.
bool answers(const sockaddr* address, socklen_t length, int milliseconds)
{
    FileDescriptor fd(::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0)
        return false;
    if (::connect(fd.get(), address, length) == 0)
        return true;
    if (errno != EINPROGRESS)
        return false;
    pollfd entry{fd.get(), POLLOUT, 0};
    int error = 0;
    socklen_t size = sizeof error;
    return ::poll(&entry, 1, milliseconds) == 1 &&
           ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

bool unixSocketAnswers(const std::string& path, bool abstract)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;  // an abstract name starts with a NUL byte
    if (path.size() + offset >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    return answers(reinterpret_cast<const sockaddr*>(&address), length, 2000);
}

} // namespace

bool xDisplayReachable(std::string_view display)
{
    const std::size_t colon = display.rfind(':');
    if (colon == std::string_view::npos)
        return false;
    const std::string host(display.substr(0, colon));
    std::string number;
    for (const char c : display.substr(colon + 1)) {
        if (c < '0' || c > '9')
            break;
        number += c;
    }
    if (number.empty() || number.size() > 5)
        return false;
    if (host.empty() || host == "unix") {
        // The X server's local socket, in the file system or, where /tmp is
        // private to the session, under the same abstract name.
        const std::string path = "/tmp/.X11-unix/X" + number;
        return unixSocketAnswers(path, false) || unixSocketAnswers(path, true);
    }
    if (host.front() == '/')
        return true;  // a launcher's own socket path: left to the toolkit
    // host:N is TCP port 6000 + N (forwarded displays such as localhost:10).
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(6000 + std::stoi(number));
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0)
        return false;
    bool reached = false;
    for (const addrinfo* a = found; a != nullptr && !reached; a = a->ai_next)
        reached = answers(a->ai_addr, a->ai_addrlen, 2000);
    ::freeaddrinfo(found);
    return reached;
}

bool waylandDisplayReachable(std::string_view display)
{
    std::string path(display.empty() ? std::string_view("wayland-0") : display);
    if (path.front() != '/') {
        const std::string runtime = runtimeFolder();
        if (runtime.empty())
            return false;
        path = runtime + "/" + path;
    }
    return unixSocketAnswers(path, false);
}

void remindOfMissingServer()
{
    std::string server;
    if (!ProxyConfiguration().getServer(server))
        std::fprintf(stderr, "Pelorus: no SMTP server is set. Set it with: pelorus --server HOST --port PORT (or make "
                             "run ARGS='--server HOST --port PORT').\n");
}

std::optional<int> startProgram(int argc, char** argv, StartedProgram& started)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string message;
    if (!parseCommandLine(arguments, started.options, message)) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return 2;
    }
    if (started.options.help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (started.options.version) {
        std::puts("Pelorus Version 1.0.0.9");
        return 0;
    }
    if (started.options.decisions) {
        const std::optional<std::size_t> count = decisionCount(started.options);
        if (!count) {
            std::fputs("pelorus: --decisions takes a number from 1 to 10000.\n", stderr);
            return 2;
        }
        std::fputs(decisionsTable(readRecentDecisions(decisionFolder(), *count)).c_str(), stdout);
        return 0;
    }
    if (started.options.verbose)
        setDiagnosticsEnabled(true);
    // Checked first (a bad option ends here), stored only under the lock:
    // a copy that another one keeps out must not change that one's settings.
    if (!checkSettingOptions(started.options, message)) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return 2;
    }

    debug(getLogWriter(), "Pelorus#WinMain,1,Started");
    started.instanceLock = takeSingleInstanceLock();
    if (!started.instanceLock) {
        error(getLogWriter(), "Pelorus#WinMain,2,Already running");
        std::fputs("Pelorus is already running.\n\a", stderr);
        if (givesSettings(started.options))
            std::fputs("Pelorus: the settings given were not stored.\n", stderr);
        return 255;
    }
    std::string warning;
    if (!applySettingOptions(started.options, message, warning)) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return 2;
    }
    if (!warning.empty())
        std::fprintf(stderr, "%s\n", warning.c_str());
    // Only now: a second copy must never delete the running copy's mails.
    SMTPMessage::removeLeftovers();
    return std::nullopt;
}

void endProcess(int status)
{
    // Written under the log's lock, so no line before it is left half done.
    debug(getLogWriter(), "Pelorus#WinMain,7,End, status=%d", status);
    std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
    // _exit() skips the leak check that a normal exit runs.
    __lsan_do_leak_check();
#endif
    ::_exit(status);
}

int listenerFailure(int code, std::string& lines)
{
    char text[512];
    std::snprintf(text, sizeof text, "Exception happend. Error=%d", code);
    lines = text;
    std::uint16_t port = ProxyConfiguration::DefaultProxyPort;
    ProxyConfiguration().getProxyPort(port);
    const int reason = SMTPProxy::lastSystemError();
    if (reason == EACCES) {
        std::snprintf(text, sizeof text,
                      "Port %d needs root privileges on Linux; choose 1024 or above with --proxy-port.", port);
        lines += "\n";
        lines += text;
    } else if (reason == EADDRINUSE) {
        std::snprintf(text, sizeof text, "Port %d is already in use by another program.", port);
        lines += "\n";
        lines += text;
    }
    const int status = code & 0xFF;
    return status == 0 ? 1 : status;
}

} // namespace MAIL
