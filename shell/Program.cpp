#include "shell/Program.h"

#include "config/LogWriter.h"
#include "config/ProxyConfiguration.h"
#include "foundation/Diagnostics.h"
#include "relay/SMTPMessage.h"
#include "relay/SMTPProxy.h"
#include "shell/SingleInstance.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>

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

bool noDisplay()
{
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* x11 = std::getenv("DISPLAY");
    return (wayland == nullptr || wayland[0] == '\0') && (x11 == nullptr || x11[0] == '\0');
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
    if (started.options.verbose)
        setDiagnosticsEnabled(true);
    std::string warning;
    if (!applySettingOptions(started.options, message, warning)) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return 2;
    }
    if (!warning.empty())
        std::fprintf(stderr, "%s\n", warning.c_str());

    debug(getLogWriter(), "Pelorus#WinMain,1,Started");
    started.instanceLock = takeSingleInstanceLock();
    if (!started.instanceLock) {
        error(getLogWriter(), "Pelorus#WinMain,2,Already running");
        std::fputs("Pelorus is already running.\n\a", stderr);
        return 255;
    }
    // Only now: a second copy must never delete the running copy's mails.
    SMTPMessage::removeLeftovers();
    return std::nullopt;
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
