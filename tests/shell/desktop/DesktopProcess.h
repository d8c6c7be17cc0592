// The real pelorus as a desktop program in a test: its own folders, Qt's
// offscreen platform and no session bus unless the test says otherwise,
// both output streams in a file. The destructor stops a program still
// running.
#pragma once

#include "relay/RelayTestSupport.h"
#include "support/TempDir.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

namespace pelorus::test {

class DesktopProcess {
public:
    // changes: "NAME=value" replaces or adds a variable, "NAME=" drops it.
    DesktopProcess(const TempDir& home, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& changes = {});
    DesktopProcess(const DesktopProcess&) = delete;
    DesktopProcess& operator=(const DesktopProcess&) = delete;
    ~DesktopProcess();

    std::string output() const { return readFile(log_); }
    bool waitForOutput(const std::string& text, int milliseconds = 20000) const;
    // The exit status, or -1 when it did not end (or was killed).
    int waitExit(int milliseconds = 20000);
    void signal(int number);
    pid_t pid() const { return pid_; }

private:
    std::string log_;
    pid_t pid_ = -1;
    int status_ = -2;
};

// A client connection to the proxy port once the program listens there.
std::unique_ptr<Connection> connectWhenListening(std::uint16_t port);

// Polls done() every 20 ms until it holds or the limit (ms) has passed.
bool pollUntil(const std::function<bool()>& done, int milliseconds);

} // namespace pelorus::test
