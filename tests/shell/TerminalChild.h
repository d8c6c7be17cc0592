// A forked child on its own pseudo-terminal, for driving the terminal
// prompt: the child is a session leader whose controlling terminal is the
// pty slave, in its foreground process group unless asked otherwise. The
// test types on the master and reads what the child printed (line ends
// without their CR); the child's exit status carries the body's result.
#pragma once

#include <functional>
#include <string>

#include <sys/types.h>

namespace pelorus::test {

class TerminalChild {
public:
    enum class Group { Foreground, Background };
    // body(terminal, control): the slave's descriptor, and a pipe giving a
    // byte for each poke().
    using Body = std::function<int(int terminal, int control)>;

    explicit TerminalChild(Body body, Group group = Group::Foreground);
    TerminalChild(const TerminalChild&) = delete;
    TerminalChild& operator=(const TerminalChild&) = delete;
    ~TerminalChild();

    // Waits (up to a generous limit) until text was printed after from.
    bool waitForOutput(const std::string& text, std::size_t from = 0);
    const std::string& output() const { return output_; }
    void type(const std::string& keys);
    void poke();
    // The terminal modes of the slave are set through the master.
    int master() const { return master_; }
    // The child's exit status, or -1 when it did not end in time.
    int exitStatus();

private:
    void readFor(int milliseconds);

    int master_ = -1;
    int control_ = -1;
    pid_t pid_ = -1;
    int status_ = -1;
    std::string output_;
};

// In the child: blocks until the test pokes.
void waitForPoke(int control);

} // namespace pelorus::test
