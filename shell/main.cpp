// pelorus: the local SMTP proxy that holds each outgoing mail until its
// sender has confirmed the recipients. With a display it can reach (and
// without --headless) it is a tray application; otherwise it runs in the
// terminal and says why.
#include "shell/Program.h"
#include "shell/desktop/DesktopMain.h"
#include "shell/desktop/DisplayChoice.h"

#include <cstdio>

int main(int argc, char** argv)
{
    MAIL::prepareProcess();
    MAIL::StartedProgram started;
    if (const std::optional<int> status = MAIL::startProgram(argc, argv, started))
        return *status;
    if (!started.options.headless) {
        const std::optional<std::string> refusal = MAIL::desktopRefusal();
        if (!refusal)
            MAIL::endProcess(MAIL::runDesktop(started.options));
        std::fprintf(stderr, "%s\n", refusal->c_str());
    }
    MAIL::endProcess(MAIL::runHeadless(started.options));
}
