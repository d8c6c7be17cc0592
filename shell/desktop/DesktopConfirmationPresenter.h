// DesktopConfirmationPresenter: the confirmation asked in a desktop window.
//
// present() runs on a session thread. It copies what the model shows, asks
// the GUI thread (by a queued call) to build a ConfirmationWindow and show
// it above other windows with open(), never a nested exec(), and waits for
// the window's finished signal or the CancelToken. It answers 1 only when
// the enabled OK button ended the window. Everything else answers 2:
// Cancel, Escape, the close box, the countdown, a newer confirmation (the
// older window ends with Cancel the moment the newer one opens), the
// CancelToken, shutDown(), a GUI that has ended or never ran, a window that
// could not be created, a present() called on the GUI thread itself (it
// would wait on its own loop). The token is told why a 2 was not the
// user's own answer (the countdown, a newer window, no GUI). When a window
// opens, the notification "Recipients Confirmation - Pelorus" with the
// mail's subject (escaped) is sent too, so a window that a compositor keeps
// behind others (always so on Wayland) is still noticed.
//
// Construct it on the GUI thread, after the QApplication; it may then be
// shared with setConfirmationPresenter().
#pragma once

#include "relay/ConfirmationPresenter.h"
#include "shell/desktop/ConfirmationWindow.h"

#include <memory>

namespace MAIL {

class DesktopConfirmationPresenter : public ConfirmationPresenter {
public:
    explicit DesktopConfirmationPresenter(ConfirmationWindow::Clock clock = ConfirmationWindow::Clock::Running);
    ~DesktopConfirmationPresenter() override;
    DesktopConfirmationPresenter(const DesktopConfirmationPresenter&) = delete;
    DesktopConfirmationPresenter& operator=(const DesktopConfirmationPresenter&) = delete;

    // Session thread: 1 when the user confirmed with OK, 2 otherwise.
    int present(const AddressConfirmationDialog& model, CancelToken& cancel) override;

    // GUI thread, on Exit or a signal, before the event loop ends: the open
    // window ends with Cancel and every later present() answers 2 at once.
    // Also done by itself when the application's loop is about to quit.
    void shutDown();

    // GUI thread: the newest window still open, or null.
    ConfirmationWindow* openWindow() const;

private:
    bool isGuiThread() const;

    struct Core;
    std::shared_ptr<Core> core_;
};

} // namespace MAIL
