// pelorus: the local SMTP proxy that holds each outgoing mail until its
// sender has confirmed the recipients.
#include "shell/Program.h"

#include <cstdio>

int main(int argc, char** argv)
{
    MAIL::prepareProcess();
    MAIL::StartedProgram started;
    if (const std::optional<int> status = MAIL::startProgram(argc, argv, started))
        return *status;
    if (!started.options.headless && MAIL::noDisplay())
        std::fputs("Pelorus: no display found (neither WAYLAND_DISPLAY nor DISPLAY is set); running in this "
                   "terminal.\n",
                   stderr);
    return MAIL::runHeadless(started.options);
}
