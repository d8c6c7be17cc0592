// pelorus: the local SMTP proxy that holds each outgoing mail until its
// sender has confirmed the recipients. With a display (and without
// --headless) it is a tray application; otherwise it runs in the terminal.
#include "shell/Program.h"
#include "shell/desktop/DesktopMain.h"

#include "relay/Notifications.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    MAIL::prepareProcess();
    MAIL::StartedProgram started;
    if (const std::optional<int> status = MAIL::startProgram(argc, argv, started))
        return *status;
    if (!started.options.headless) {
        const char* display = std::getenv("DISPLAY");
        const bool hasX = display != nullptr && display[0] != '\0';
        if (MAIL::desktopAvailable() && (!hasX || MAIL::xDisplayReachable(display)))
            MAIL::endProcess(MAIL::runDesktop(started.options));
        if (hasX)
            std::fprintf(stderr, "Pelorus: the X display %s does not answer; running in this terminal.\n",
                         MAIL::visibleText(display, false).c_str());
        else if (MAIL::noDisplay())
            std::fputs("Pelorus: no display found (neither WAYLAND_DISPLAY nor DISPLAY is set); running in this "
                       "terminal.\n",
                       stderr);
        else
            std::fputs("Pelorus: no X display found (DISPLAY is not set; the desktop shell runs on X11 or "
                       "XWayland); running in this terminal.\n",
                       stderr);
    }
    MAIL::endProcess(MAIL::runHeadless(started.options));
}
