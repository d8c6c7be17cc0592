// The real pelorus executable in a test: its own HOME and XDG folders, its
// standard streams on pipes or on a pseudo-terminal, optionally dropped to
// an ordinary user. The destructor ends it.
#pragma once

#include "support/TempDir.h"

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace pelorus::test {

class ProgramProcess {
public:
    struct Options {
        std::vector<std::string> arguments;
        bool terminal = false;     // standard streams on a pseudo-terminal
        bool ordinaryUser = false; // through setpriv as nobody when run as root
        const TempDir* home = nullptr;  // a home shared with another process
    };

    explicit ProgramProcess(Options options);
    ProgramProcess(const ProgramProcess&) = delete;
    ProgramProcess& operator=(const ProgramProcess&) = delete;
    ~ProgramProcess();

    // Everything the program printed so far (terminal or standard error).
    std::string output();
    // Waits until the printed text, from offset on, contains text.
    bool waitForOutput(const std::string& text, int milliseconds = 20000, std::size_t offset = 0);
    // Types into the terminal.
    void type(const std::string& keys);
    // Sends a signal and waits for the exit status (-1 when killed).
    int terminate(int signal, int milliseconds = 20000);
    // Waits for the program to end by itself.
    int waitExit(int milliseconds = 20000);
    bool waitListening(std::uint16_t port, int milliseconds = 20000);

    const TempDir& home() const { return *home_; }

private:
    void collect(int milliseconds);

    TempDir ownHome_;
    const TempDir* home_;
    pid_t pid_ = -1;
    int output_ = -1;  // pty master or the stderr pipe
    std::string printed_;
    int status_ = -2;
};

// Runs the program to its end with pipes; for quick commands.
struct QuickResult {
    int status;
    std::string output;
    std::string errors;
};
// Runs the program to its end with its own folders and, added to them, the
// given environment entries ("NAME=value").
QuickResult runPelorus(const std::vector<std::string>& arguments, const TempDir& home,
                       const std::vector<std::string>& environment = {});

// The environment variables that give the program its folders in home.
std::vector<std::string> programEnvironment(const TempDir& home);

} // namespace pelorus::test
