// pelorus: the local SMTP proxy that holds each outgoing mail until its
// sender has confirmed the recipients. With a display (and without
// --headless) it is a tray application; otherwise it runs in the terminal.
#include "shell/Program.h"
#include "shell/desktop/DesktopMain.h"

#include <cstdio>

int main(int argc, char** argv)
{
    MAIL::prepareProcess();
    MAIL::StartedProgram started;
    if (const std::optional<int> status = MAIL::startProgram(argc, argv, started))
        return *status;
    if (!started.options.headless) {
        if (MAIL::desktopAvailable())
            return MAIL::runDesktop(started.options);
        std::fputs(MAIL::noDisplay() ? "Pelorus: no display found (neither WAYLAND_DISPLAY nor DISPLAY is set); "
                                       "running in this terminal.\n"
                                     : "Pelorus: no X display found (DISPLAY is not set; the desktop shell runs on "
                                       "X11 or XWayland); running in this terminal.\n",
                   stderr);
    }
    return MAIL::runHeadless(started.options);
}
