#include "shell/TerminalPresenter.h"

#include "config/LogWriter.h"
#include "relay/AddressConfirmationDialog.h"
#include "shell/TerminalText.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace MAIL {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Output the terminal does not take within this limit is given up (output
// stopped with Ctrl-S, a full pipe), so no thread hangs on it.
constexpr int WriteLimit = 500;
// Written in pieces no larger than a terminal takes after reporting room.
constexpr std::size_t WriteChunk = 256;
// How often a waiting question looks at its CancelToken at the latest.
constexpr milliseconds CancelSlice{100};
// An answer longer than this is no "yes" anyway. Only its first
// AnswerLimit + 1 characters are kept, so a longer line is seen to be too
// long and never judged by its beginning.
constexpr std::size_t AnswerLimit = 64;

const char* const Red = "\x1b[31m";
const char* const Plain = "\x1b[0m";

bool isBackgroundOf(int fd);

bool writeBounded(int fd, std::string_view text)
{
    // Writing to our terminal from the background with TOSTOP set would
    // stop the whole proxy (SIGTTOU); the text is left unprinted instead.
    termios mode{};
    if (isBackgroundOf(fd) && ::tcgetattr(fd, &mode) == 0 && (mode.c_lflag & TOSTOP) != 0)
        return false;
    while (!text.empty()) {
        pollfd ready{fd, POLLOUT, 0};
        const int polled = ::poll(&ready, 1, WriteLimit);
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0 || (ready.revents & (POLLERR | POLLNVAL)) != 0)
            return false;
        const ssize_t written = ::write(fd, text.data(), std::min(text.size(), WriteChunk));
        if (written < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// A terminal that understands cursor movement and colours.
bool capableTerminal(int fd)
{
    if (::isatty(fd) != 1)
        return false;
    const char* term = std::getenv("TERM");
    return term != nullptr && term[0] != '\0' && std::strcmp(term, "dumb") != 0;
}

int columns(int fd)
{
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

// Rows a line of plain ASCII text takes on the screen.
int rowsOf(std::size_t length, int width)
{
    return std::max<int>(1, static_cast<int>((length + static_cast<std::size_t>(width) - 1) / width));
}

// Whether the terminal itself moved to a new line when Enter was typed.
bool echoesLines(int fd)
{
    termios mode{};
    return ::tcgetattr(fd, &mode) == 0 && (mode.c_lflag & ECHO) != 0 && (mode.c_lflag & ICANON) != 0;
}

// Adds a typed byte to the line under way; true when the byte ended it.
// Past AnswerLimit + 1 characters nothing more is kept.
bool typeInto(std::string& line, char c)
{
    if (c == '\n' || c == '\r')
        return true;
    if (line.size() <= AnswerLimit)
        line += c;
    return false;
}

bool isYes(std::string_view answer)
{
    if (answer.size() > AnswerLimit)
        return false;
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!answer.empty() && blank(answer.front()))
        answer.remove_prefix(1);
    while (!answer.empty() && blank(answer.back()))
        answer.remove_suffix(1);
    std::string word(answer);
    for (char& c : word)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return word == "y" || word == "yes";
}

void appendRows(std::string& out, const char* label, const std::vector<ConfirmationRow>& rows, bool colour)
{
    for (const ConfirmationRow& row : rows) {
        const bool red = colour && row.flagged;
        if (red)
            out += Red;
        out += label;
        out += ": ";
        out += visibleText(row.first, false);
        out += " | ";
        out += visibleText(row.second, false);
        if (red)
            out += Plain;
        out += '\n';
    }
}

// Everything of the confirmation but its countdown and question.
std::string confirmationBlock(const AddressConfirmationDialog& model, bool colour)
{
    std::string out = "\n";
    out += AddressConfirmationDialog::Title;
    out += "\nSubject: " + visibleText(model.getSubject(), false) + "\n";
    if (!model.isToEnabled())
        out += "To: (none)\n";
    appendRows(out, "To", model.toRows(), colour);
    appendRows(out, "Cc", model.ccRows(), colour);
    appendRows(out, "Bcc", model.bccRows(), colour);
    appendRows(out, "Attached Files", model.attachmentRows(), colour);
    appendRows(out, "Security", model.securityRows(), colour);
    const std::string message = visibleText(model.messageText(), true);
    out += message;
    if (message.empty() || message.back() != '\n')
        out += '\n';
    return out;
}

// fd is our controlling terminal, and another process group has it.
bool isBackgroundOf(int fd)
{
    if (::isatty(fd) != 1)
        return false;
    const pid_t foreground = ::tcgetpgrp(fd);
    return foreground != -1 && foreground != ::getpgrp();
}

} // namespace

bool isForegroundTerminal(int fd)
{
    if (::isatty(fd) != 1)
        return false;
    const pid_t foreground = ::tcgetpgrp(fd);
    return foreground != -1 && foreground == ::getpgrp();
}

// The terminal shared by the questions, the notices and the undo lines. The
// question on screen is the bottom of the output: the countdown line, the
// question line and the answer prompt, with the cursor after the prompt. A
// notice is printed above it and the question printed again below. Between
// questions, while some mail is held, the reader thread takes the input.
struct TerminalPresenter::Screen {
    Screen(int in, int out) : input(in), output(out) {}

    const int input;
    const int output;

    // One writer or reader at a time; the question's and the holds' state.
    std::mutex lock;
    bool live = false;      // a question is on screen
    bool inPlace = false;   // its countdown is rewritten where it stands
    std::string countdown;  // its countdown line
    std::string prompt;     // its answer prompt
    int held = 0;           // mails held now
    std::string typed;      // a line typed between questions, not ended yet
    bool stopping = false;  // the reader is to end
    std::condition_variable wakeReader;

    // One question at a time.
    std::mutex slotLock;
    std::condition_variable slotFree;
    bool slotTaken = false;

    // Waits until no other question is open; false when cancelled first.
    bool takeSlot(const CancelToken& cancel, milliseconds slice)
    {
        std::unique_lock guard(slotLock);
        while (slotTaken) {
            if (cancel.isCancelled())
                return false;
            slotFree.wait_for(guard, slice);
        }
        if (cancel.isCancelled())
            return false;
        slotTaken = true;
        return true;
    }

    // Also forgets a question left on screen by an exception.
    void releaseSlot()
    {
        {
            std::lock_guard guard(lock);
            live = false;
        }
        {
            std::lock_guard guard(slotLock);
            slotTaken = false;
        }
        slotFree.notify_all();
    }

    // Prints the block, discards what was typed so far, then asks. False
    // when the block or the question could not be shown whole.
    bool open(const std::string& block, std::string label, bool rewritable)
    {
        std::lock_guard guard(lock);
        if (!writeBounded(output, block) || !isForegroundTerminal(input))
            return false;
        inPlace = rewritable;
        countdown = std::move(label);
        prompt = TerminalPresenter::AnswerPrompt;
        discardInput();
        live = writeBounded(output, question());
        return live;
    }

    void tick(const std::string& label, int remaining)
    {
        std::lock_guard guard(lock);
        countdown = label;
        if (!live)
            return;
        if (inPlace)
            writeBounded(output, "\x1b" "7" + up(rowsAboveAnswer()) + "\r\x1b[2K" + label + "\x1b" "8");
        else if (remaining % 10 == 0)
            writeBounded(output, "\n" + label + "\n" + prompt);
    }

    // Asks the open question's next part below the answer just given; what
    // was typed ahead is discarded, so each part is answered on its own.
    // False when it could not be shown whole.
    bool askNext(std::string nextPrompt, bool newlineFirst)
    {
        std::lock_guard guard(lock);
        prompt = std::move(nextPrompt);
        discardInput();
        live = writeBounded(output, (newlineFirst ? "\n" : "") + question());
        return live;
    }

    void close(const std::string& line, bool newlineFirst)
    {
        std::lock_guard guard(lock);
        live = false;
        writeBounded(output, (newlineFirst ? "\n" : "") + line + "\n");
    }

    // Prints text above the question (or at the bottom when none is open).
    bool insertAbove(const std::string& text)
    {
        std::lock_guard guard(lock);
        return insertAboveLocked(text);
    }

    // A hold began or ended. The first mail held discards what was typed
    // while nothing was (unless a question owns the input), so an old line
    // undoes nothing.
    void noteHold(HoldEvent event, const HeldMail& mail)
    {
        {
            std::lock_guard guard(lock);
            if (event == HoldEvent::Ended) {
                held = std::max(0, held - 1);
                return;
            }
            if (held++ == 0 && !live)
                discardInput();
            insertAboveLocked(holdLine(mail));
        }
        wakeReader.notify_all();
    }

    void stopReader()
    {
        {
            std::lock_guard guard(lock);
            stopping = true;
        }
        wakeReader.notify_all();
    }

    // The reader thread: while some mail is held and no question is open,
    // the lines typed at the terminal are undo commands.
    void readUndoLines()
    {
        std::vector<std::string> lines;
        for (;;) {
            {
                std::unique_lock guard(lock);
                wakeReader.wait(guard, [this] { return stopping || held > 0; });
                if (stopping)
                    return;
            }
            // Nothing typed within the slice: look at the state again.
            pollfd ready{input, POLLIN, 0};
            if (isForegroundTerminal(input) && ::poll(&ready, 1, static_cast<int>(CancelSlice.count())) == 0)
                continue;
            lines.clear();
            if (!readBetweenQuestions(lines)) {
                // A question has the input, the terminal is not ours, or
                // the input ended: look again a little later.
                std::unique_lock guard(lock);
                if (wakeReader.wait_for(guard, CancelSlice, [this] { return stopping; }))
                    return;
                continue;
            }
            for (const std::string& line : lines)
                undo(line);
        }
    }

private:
    bool insertAboveLocked(const std::string& text)
    {
        if (!live)
            return writeBounded(output, text);
        const bool shown = writeBounded(output, (inPlace ? "\r" + up(rowsAboveAnswer()) + "\x1b[J" : "\n") + text);
        // The question is asked anew: what was typed under the old one is
        // gone from the screen, so it is discarded as well.
        discardInput();
        writeBounded(output, question());
        return shown;
    }

    // Reads what was typed while mails are held and no question is open;
    // whole lines go to lines. False when nothing could be read.
    bool readBetweenQuestions(std::vector<std::string>& lines)
    {
        std::lock_guard guard(lock);
        // Reading from the background would stop the whole proxy.
        if (held == 0 || live || !isForegroundTerminal(input))
            return false;
        pollfd ready{input, POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0 || (ready.revents & POLLIN) == 0)
            return false;
        char bytes[256];
        const ssize_t got = ::read(input, bytes, sizeof bytes);
        for (ssize_t i = 0; i < got; ++i)
            if (typeInto(typed, bytes[i])) {
                lines.push_back(std::move(typed));
                typed.clear();
            }
        return got > 0;
    }

    // "u K" undoes mail K; other lines (a cut one too) are not for us.
    void undo(const std::string& line)
    {
        const std::optional<std::string> digits =
            line.size() > AnswerLimit ? std::nullopt : undoNumber(line);
        if (!digits)
            return;
        int number = 0;
        const char* end = digits->data() + digits->size();
        const auto parsed = std::from_chars(digits->data(), end, number);
        if (parsed.ec == std::errc() && parsed.ptr == end && HeldMails::instance().undo(number)) {
            debug(getLogWriter(), "TerminalPresenter#undo,1,Undo the held mail %d", number);
            return;  // the session says "Sending was undone"
        }
        insertAbove((echoesLines(input) ? "" : "\n") + notHeldLine(*digits));
    }

    std::string question() const
    {
        return countdown + "\n" + AddressConfirmationDialog::CheckBoxText + "\n" + prompt;
    }

    // Rows from the answer prompt's row up to the countdown line's first
    // (a prompt naming a long address wraps).
    int rowsAboveAnswer() const
    {
        const int width = columns(output);
        return rowsOf(countdown.size(), width) + rowsOf(std::strlen(AddressConfirmationDialog::CheckBoxText), width) +
               rowsOf(prompt.size(), width) - 1;
    }

    static std::string up(int rows) { return "\x1b[" + std::to_string(rows) + "A"; }

    void discardInput()
    {
        typed.clear();
        // tcflush from the background would stop the proxy (SIGTTOU).
        if (isForegroundTerminal(input))
            ::tcflush(input, TCIFLUSH);
    }
};

TerminalPresenter::TerminalPresenter(TerminalOptions options)
    : options_(options), screen_(std::make_shared<Screen>(options.input, options.output))
{
    if (options_.tick < milliseconds(1))
        options_.tick = milliseconds(1);
}

TerminalPresenter::~TerminalPresenter()
{
    screen_->stopReader();
    if (reader_.joinable())
        reader_.join();
}

int TerminalPresenter::present(const AddressConfirmationDialog& model, CancelToken& cancel)
{
    const bool colour = capableTerminal(options_.output) && std::getenv("NO_COLOR") == nullptr;
    const std::string block = confirmationBlock(model, colour);
    if (!isForegroundTerminal(options_.input)) {
        error(getLogWriter(), "TerminalPresenter#present,1,No terminal to confirm this mail, so cancel it");
        screen_->insertAbove(block + NoTerminalText + "\n");
        cancel.explain(ConfirmationEnd::NoOneToAsk);
        return 2;
    }
    const milliseconds slice = std::min(options_.tick, CancelSlice);
    if (!screen_->takeSlot(cancel, slice))
        return 2;
    struct Release {
        Screen& screen;
        ~Release() { screen.releaseSlot(); }
    } release{*screen_};
    return ask(model, cancel, block);
}

int TerminalPresenter::ask(const AddressConfirmationDialog& model, CancelToken& cancel, const std::string& block)
{
    const int input = options_.input;
    Countdown countdown = model.makeCountdown();
    if (!screen_->open(block, countdownText(countdown.remaining()), capableTerminal(options_.output))) {
        error(getLogWriter(), "TerminalPresenter#ask,1,The confirmation could not be shown, so cancel it");
        cancel.explain(ConfirmationEnd::NoOneToAsk);
        return 2;
    }
    const auto finish = [this](int result, const std::string& line, bool newlineFirst) {
        screen_->close(line, newlineFirst);
        return result;
    };
    // The user is gone from the terminal: nobody can answer any more.
    const auto unanswerable = [&] {
        cancel.explain(ConfirmationEnd::NoOneToAsk);
        return finish(2, NoTerminalText, true);
    };

    const std::vector<std::string> recipients = model.recipientsToConfirm();
    std::size_t asked = 0;  // of those recipients
    const milliseconds slice = std::min(options_.tick, CancelSlice);
    steady_clock::time_point nextTick = steady_clock::now() + options_.tick;
    std::string answer;
    for (;;) {
        if (cancel.isCancelled())
            return finish(2, "Cancelled: closed by a newer confirmation or by shut-down.", true);
        steady_clock::time_point now = steady_clock::now();
        while (now >= nextTick) {
            const std::optional<std::string> label = countdown.tick();
            if (!label) {
                cancel.explain(ConfirmationEnd::TimedOut);
                return finish(2, "Cancelled: no answer in time.", true);
            }
            screen_->tick(*label, countdown.remaining());
            nextTick += options_.tick;
        }
        if (!isForegroundTerminal(input))
            return unanswerable();

        const auto wait = std::min(std::chrono::ceil<milliseconds>(nextTick - now), slice);
        pollfd ready{input, POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(wait.count()));
        if (polled < 0 && errno != EINTR)
            return unanswerable();
        if (polled <= 0)
            continue;
        if ((ready.revents & POLLIN) == 0)  // hung up, or no longer readable
            return unanswerable();
        // Reading from the background would stop the whole proxy.
        if (!isForegroundTerminal(input))
            return unanswerable();

        char bytes[256];
        const ssize_t got = ::read(input, bytes, sizeof bytes);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return unanswerable();
        }
        if (got == 0)
            return finish(2, "Cancelled.", true);  // end of input
        for (ssize_t i = 0; i < got; ++i) {
            if (!typeInto(answer, bytes[i]))
                continue;
            const bool newlineFirst = !echoesLines(input);
            if (isYes(answer) && !cancel.isCancelled() && asked < recipients.size()) {
                const std::string& next = recipients[asked++];
                if (!screen_->askNext("Send to " + visibleText(next, false) + "? [y/N] ", newlineFirst)) {
                    error(getLogWriter(), "TerminalPresenter#ask,4,The question could not be shown, so cancel it");
                    return unanswerable();
                }
                answer.clear();
                break;  // the rest of this read was typed ahead of the new question
            }
            if (isYes(answer) && !cancel.isCancelled()) {
                debug(getLogWriter(), "TerminalPresenter#ask,2,Confirmed");
                return finish(1, "Confirmed.", newlineFirst);
            }
            debug(getLogWriter(), "TerminalPresenter#ask,3,Not confirmed");
            return finish(2, "Cancelled.", newlineFirst);
        }
    }
}

void TerminalPresenter::showBalloon(const Balloon& balloon) { screen_->insertAbove(balloonLine(balloon)); }

NotificationSink TerminalPresenter::notificationSink() const
{
    return [screen = screen_](const Balloon& balloon) { screen->insertAbove(balloonLine(balloon)); };
}

HeldMails::Watcher TerminalPresenter::holdWatcher()
{
    if (!reader_.joinable())
        reader_ = std::thread([screen = screen_] { screen->readUndoLines(); });
    return [screen = screen_](HoldEvent event, const HeldMail& mail) { screen->noteHold(event, mail); };
}

void installTerminalNotificationSink(const std::shared_ptr<TerminalPresenter>& presenter)
{
    setNotificationSink(presenter ? presenter->notificationSink() : NotificationSink());
}

void installTerminalHoldWatcher(const std::shared_ptr<TerminalPresenter>& presenter)
{
    HeldMails::instance().setWatcher(presenter ? presenter->holdWatcher() : HeldMails::Watcher());
}

} // namespace MAIL
