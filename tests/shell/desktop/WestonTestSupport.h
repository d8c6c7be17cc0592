// A Wayland session for tests: weston with its headless backend, in a
// private 0700 XDG_RUNTIME_DIR of its own, and a look at what it shows
// (its scene graph, through weston-debug). The destructor stops weston and
// every client it launched.
#pragma once

#include "support/TempDir.h"

#include <string>
#include <sys/types.h>

namespace pelorus::test {

class HeadlessWeston {
public:
    HeadlessWeston();
    HeadlessWeston(const HeadlessWeston&) = delete;
    HeadlessWeston& operator=(const HeadlessWeston&) = delete;
    ~HeadlessWeston();

    // True once the compositor accepts connections.
    bool started() const { return started_; }
    const std::string& runtimeDir() const { return runtime_.path(); }
    static constexpr const char* SocketName = "pelorus-wayland";

private:
    TempDir runtime_;
    TempDir log_;
    pid_t pid_ = -1;
    bool started_ = false;
};

// The compositor's scene graph as weston-debug prints it, from the session
// in WAYLAND_DISPLAY and XDG_RUNTIME_DIR.
std::string westonSceneGraph();

// True when the scene graph shows a top-level window with this title of
// the process pid.
bool showsWindow(const std::string& sceneGraph, pid_t pid, const std::string& title);

} // namespace pelorus::test
