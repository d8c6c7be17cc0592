// Undoing a held mail at a terminal: the line announcing each hold, "u K"
// typed on a pseudo-terminal for one of several holds, numbers that are not
// held, a line typed before anything was held, and a confirmation question
// that takes the input first.
#include "TerminalChild.h"
#include "TerminalFixture.h"

#include "relay/AddressConfirmationDialog.h"
#include "relay/HeldMails.h"
#include "relay/SessionText.h"
#include "shell/TerminalPresenter.h"
#include "shell/TerminalText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

using namespace MAIL;
using pelorus::test::ScopedEnv;
using pelorus::test::TempDir;
using pelorus::test::TerminalChild;
using pelorus::test::waitForPoke;

namespace {

const std::string Prompt = TerminalPresenter::AnswerPrompt;

class TerminalUndo : public pelorus::test::TerminalHome {};

// Runs body with the terminal's presenter, notices and hold watcher
// installed, as headless mode has them; the presenter (and its reader) is
// gone when this returns.
int withTerminal(int terminal, const std::function<int()>& body)
{
    auto presenter = std::make_shared<TerminalPresenter>(TerminalOptions{terminal, terminal});
    setConfirmationPresenter(presenter);
    installTerminalNotificationSink(presenter);
    installTerminalHoldWatcher(presenter);
    const int result = body();
    installTerminalHoldWatcher(nullptr);
    installTerminalNotificationSink(nullptr);
    setConfirmationPresenter(nullptr);
    return result;
}

// Holds one mail per subject as sessions would, and when one is undone ends
// its hold with the session's notice. The test's poke ends the other holds
// (their time ran out). Returns the undone mails as bits: subject i is 1 << i.
int holdUntilPoked(int control, const std::vector<std::string>& subjects)
{
    HeldMails& held = HeldMails::instance();
    std::vector<std::unique_ptr<CancelToken>> tokens;
    std::vector<int> numbers;
    for (const std::string& subject : subjects) {
        tokens.push_back(std::make_unique<CancelToken>());
        numbers.push_back(held.hold(subject, 30, *tokens.back()));
    }
    int undone = 0;
    pollfd poked{control, POLLIN, 0};
    while (::poll(&poked, 1, 10) == 0)
        for (std::size_t i = 0; i < subjects.size(); ++i)
            if ((undone & (1 << i)) == 0 && tokens[i]->isCancelled()) {
                undone |= 1 << i;
                held.release(numbers[i]);
                showWarningBalloon(subjectNotice("Sending was undone:", balloonSubject(subjects[i], 210)));
            }
    for (std::size_t i = 0; i < subjects.size(); ++i)
        held.release(numbers[i]);  // no-op for the undone ones
    waitForPoke(control);
    return undone;
}

std::string announced(const std::string& shownSubject, int number)
{
    return "Sending in 30 s: '" + shownSubject + "'. Type u " + std::to_string(number) + " and Enter to undo.\n";
}

std::string undoneNotice(const std::string& subject)
{
    const std::string prefix = "Pelorus: warning: ";
    return prefix + "Sending was undone:\n" + std::string(prefix.size(), ' ') + "'" + subject + "'";
}

} // namespace

// "u K" undoes mail K alone; a number not held is named; a line typed
// before anything was held undoes nothing.
TEST_F(TerminalUndo, UKUndoesThatHeldMailOnly)
{
    TerminalChild child([](int terminal, int control) {
        return withTerminal(terminal, [control] {
            waitForPoke(control);
            return holdUntilPoked(control, {"Plan\x1b[2J", "two", "three"});
        });
    });
    child.type("u 2\n");
    ASSERT_TRUE(child.waitForOutput("u 2\n")) << "echoed, so the terminal holds it";
    child.poke();
    ASSERT_TRUE(child.waitForOutput(announced("Plan\\x1B[2J", 1))) << child.output();
    ASSERT_TRUE(child.waitForOutput(announced("three", 3))) << child.output();
    for (const char* number : {"7", "0", "99999999999"}) {
        child.type(std::string("u ") + number + "\n");
        EXPECT_TRUE(child.waitForOutput(std::string("No mail ") + number + " is held.\n")) << child.output();
    }
    child.type("undo\n");  // not for us: ignored, and so is a line too long
    child.type("u 2" + std::string(70, ' ') + "9\n");
    child.type(" U 3 \n");
    ASSERT_TRUE(child.waitForOutput(undoneNotice("three"))) << child.output();
    child.type("u 3\n");
    ASSERT_TRUE(child.waitForOutput("No mail 3 is held.\n")) << "its hold has ended: " << child.output();
    child.type("u 1\n");
    ASSERT_TRUE(child.waitForOutput(undoneNotice("Plan\\x1B[2J"))) << child.output();
    child.poke();
    EXPECT_EQ(child.exitStatus(), 0b101) << "mail 2 was never undone: " << child.output();
}

// A hold announced under an open question appears above it, and the
// question, asked again, takes the next line whatever it says; "u 1" undoes
// the mail once the question is closed.
TEST_F(TerminalUndo, AnOpenQuestionTakesTheInputFirst)
{
    struct Case {
        const char* answer;
        int result;
        const char* closing;
    };
    for (const Case& c : {Case{"y\n", 1, "Confirmed.\n"}, Case{"u 1\n", 2, "Cancelled.\n"}}) {
        SCOPED_TRACE(c.answer);
        TerminalChild child([](int terminal, int control) {
            return withTerminal(terminal, [control] {
                int answer = 0;
                std::thread question([&answer] {
                    AddressConfirmationDialog model;
                    model.setTo("eve@evil.example");
                    answer = model.showModal();
                });
                waitForPoke(control);
                const int undone = holdUntilPoked(control, {"minutes"});
                question.join();
                return answer * 10 + undone;
            });
        });
        ASSERT_TRUE(child.waitForOutput(Prompt)) << child.output();
        child.poke();
        const std::string line = announced("minutes", 1);
        ASSERT_TRUE(child.waitForOutput(line)) << child.output();
        const std::size_t after = child.output().find(line) + line.size();
        ASSERT_TRUE(child.waitForOutput(Prompt, after)) << "asked again: " << child.output();
        child.type(c.answer);
        ASSERT_TRUE(child.waitForOutput(c.closing, after)) << child.output();
        child.type("u 1\n");
        ASSERT_TRUE(child.waitForOutput(undoneNotice("minutes"))) << child.output();
        child.poke();
        EXPECT_EQ(child.exitStatus(), c.result * 10 + 1) << child.output();
    }
}

TEST(TerminalUndoText, OnlyUAndANumberIsAnUndo)
{
    struct Case {
        const char* line;
        std::optional<std::string> number;
    };
    for (const Case& c : {Case{"u 1", "1"}, Case{"\tU 12 ", "12"}, Case{"u12", "12"}, Case{"u 007", "007"},
                          Case{"u", std::nullopt}, Case{"u -1", std::nullopt}, Case{"u 1 2", std::nullopt},
                          Case{"undo 1", std::nullopt}, Case{"y", std::nullopt}, Case{"", std::nullopt}})
        EXPECT_EQ(undoNumber(c.line), c.number) << c.line;
    EXPECT_EQ(holdLine({4, "Hi\r\nTo: x", 10}), "Sending in 10 s: 'Hi\\x0D\\x0ATo: x'. Type u 4 and Enter to undo.\n");
}
