// The confirmation at a terminal: answers typed on a pseudo-terminal, the
// countdown, input typed too early, a newer confirmation, notices above the
// question, a background process group, and what is printed without a
// terminal.
#include "TerminalChild.h"
#include "TerminalFixture.h"

#include "analysis/message/MIMEFile.h"
#include "config/ProxyConfiguration.h"
#include "relay/AddressConfirmationDialog.h"
#include "shell/TerminalPresenter.h"
#include "shell/TerminalText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace MAIL;
using namespace std::chrono_literals;
using pelorus::test::ScopedEnv;
using pelorus::test::TempDir;
using pelorus::test::TerminalChild;
using pelorus::test::waitForPoke;

namespace {

const std::string Question = AddressConfirmationDialog::CheckBoxText;
const std::string Prompt = TerminalPresenter::AnswerPrompt;

class Terminal : public pelorus::test::TerminalHome {};

int askOnce(int terminal, std::chrono::milliseconds tick = 1000ms,
            std::optional<ConfirmationEnd> expectedEnd = std::nullopt)
{
    TerminalPresenter presenter({terminal, terminal, tick});
    AddressConfirmationDialog model;
    model.setTo("eve@evil.example");
    CancelToken token;
    const int result = presenter.present(model, token);
    // How it ended, as the record of decisions is told; 3 when not so.
    return expectedEnd && token.reason() != *expectedEnd ? 3 : result;
}

// Runs body with a presenter installed, as a session would meet it.
int withInstalledPresenter(int terminal, const std::function<int()>& body)
{
    auto presenter = std::make_shared<TerminalPresenter>(TerminalOptions{terminal, terminal});
    setConfirmationPresenter(presenter);
    installTerminalNotificationSink(presenter);
    return body();
}

} // namespace

TEST_F(Terminal, OnlyYOrYesAndEnterSends)
{
    struct Case {
        const char* keys;
        int result;
    };
    // A line too long to keep whole is no yes, whatever it begins with.
    const std::string tooLong = "yes" + std::string(62, ' ') + "x\n";
    for (const Case& c : {Case{"y\n", 1}, Case{"YES\n", 1}, Case{" yes \n", 1}, Case{"\n", 2}, Case{"n\n", 2},
                          Case{"yes please\n", 2}, Case{"\x04", 2}, Case{tooLong.c_str(), 2}}) {
        TerminalChild child([](int terminal, int) { return askOnce(terminal); });
        ASSERT_TRUE(child.waitForOutput(Prompt)) << child.output();
        child.type(c.keys);
        EXPECT_EQ(child.exitStatus(), c.result) << c.keys;
        EXPECT_TRUE(child.waitForOutput(c.result == 1 ? "Confirmed." : "Cancelled.")) << c.keys;
    }
}

TEST_F(Terminal, ANewRecipientIsARedRowWithItsFlagWords)
{
    TerminalChild child([](int terminal, int) {
        TerminalPresenter presenter({terminal, terminal, 1000ms});
        AddressConfirmationDialog model;
        model.setTo("Eve <eve@evil.example>, ann@corp.example");
        model.setNewRecipients({"EVE@evil.example", "ann@corp.example"});
        CancelToken token;
        return presenter.present(model, token);
    });
    ASSERT_TRUE(child.waitForOutput(Prompt)) << child.output();
    child.type("n\n");
    EXPECT_EQ(child.exitStatus(), 2);
    EXPECT_NE(child.output().find("\x1b[31mTo: Eve <eve@evil.example> | x new\x1b[0m"), std::string::npos)
        << child.output();
    EXPECT_NE(child.output().find("\x1b[31mTo: ann@corp.example | new\x1b[0m"), std::string::npos) << child.output();
}

TEST_F(Terminal, TheCountdownCancelsShownEachTickOrEveryTenOnADumbTerminal)
{
    AddressConfirmationDialog::updateEffectiveTimeout(31);
    for (const char* kind : {"xterm", "dumb"}) {
        ScopedEnv dumb{"TERM", kind};
        TerminalChild child([](int terminal, int) { return askOnce(terminal, 1ms, ConfirmationEnd::TimedOut); });
        EXPECT_EQ(child.exitStatus(), 2) << kind;
        const std::string& shown = child.output();
        EXPECT_NE(shown.find("This mail is automatically cancelled in (31) seconds."), std::string::npos) << kind;
        EXPECT_NE(shown.find("(20) seconds."), std::string::npos) << kind;
        EXPECT_NE(shown.find("(0) seconds."), std::string::npos) << kind;
        EXPECT_EQ(shown.find("(25) seconds.") != std::string::npos, std::string(kind) == "xterm") << shown;
        EXPECT_NE(shown.find("Cancelled: no answer in time."), std::string::npos) << shown;
    }
    AddressConfirmationDialog::updateEffectiveTimeout(60);
}

TEST_F(Terminal, AYTypedBeforeTheQuestionIsDiscarded)
{
    TerminalChild child([](int terminal, int control) {
        waitForPoke(control);
        return askOnce(terminal);
    });
    child.type("y\n");
    ASSERT_TRUE(child.waitForOutput("y\n")) << "echoed, so the terminal holds it";
    child.poke();
    ASSERT_TRUE(child.waitForOutput(Prompt));
    child.type("\n");
    EXPECT_EQ(child.exitStatus(), 2) << child.output();
}

TEST_F(Terminal, ANewerConfirmationCancelsTheOpenQuestionAndWhatWasTypedForIt)
{
    TerminalChild child([](int terminal, int control) {
        return withInstalledPresenter(terminal, [control] {
            int first = 0;
            std::thread older([&first] {
                AddressConfirmationDialog model;
                model.setTo("first@evil.example");
                first = model.showModal();
            });
            waitForPoke(control);
            AddressConfirmationDialog model;
            model.setTo("second@evil.example");
            const int second = model.showModal();
            older.join();
            return first * 10 + second;
        });
    });
    ASSERT_TRUE(child.waitForOutput(Prompt));
    const std::size_t typed = child.output().size();
    child.type("y");  // no Enter yet
    ASSERT_TRUE(child.waitForOutput("y", typed));
    child.poke();
    ASSERT_TRUE(child.waitForOutput("To: second@evil.example"));
    ASSERT_TRUE(child.waitForOutput(Prompt, child.output().find("To: second@evil.example")));
    child.type("\n");
    EXPECT_EQ(child.exitStatus(), 22) << "the first cancelled, the early y not counted for the second";
    const std::string& shown = child.output();
    EXPECT_LT(shown.find("Cancelled: closed by a newer confirmation"), shown.find("To: second@evil.example"))
        << "the older question has left the terminal before the newer is printed: " << shown;
}

TEST_F(Terminal, ANoticeAppearsAboveTheQuestionWhichIsAskedAgain)
{
    TerminalChild child([](int terminal, int control) {
        return withInstalledPresenter(terminal, [control] {
            std::thread notice([control] {
                waitForPoke(control);
                showWarningBalloon("Cancelled a mail:\r\n'To: boss@corp.example | '");
            });
            AddressConfirmationDialog model;
            model.setTo("eve@evil.example");
            const int result = model.showModal();
            notice.join();
            return result;
        });
    });
    ASSERT_TRUE(child.waitForOutput(Prompt));
    child.poke();
    const std::string line = "Pelorus: warning: Cancelled a mail:\n                  'To: boss@corp.example | '\n";
    ASSERT_TRUE(child.waitForOutput(line)) << child.output();
    const std::size_t after = child.output().find(line) + line.size();
    ASSERT_TRUE(child.waitForOutput(Question + "\n" + Prompt, after)) << child.output();
    child.type("y\n");
    EXPECT_EQ(child.exitStatus(), 1);
}

TEST_F(Terminal, ABackgroundProcessGroupCannotConfirmAndIsNeverStopped)
{
    for (const bool stopOnOutput : {false, true}) {
        TerminalChild child(
            [](int terminal, int control) {
                waitForPoke(control);
                return askOnce(terminal);
            },
            TerminalChild::Group::Background);
        termios modes{};
        ASSERT_EQ(::tcgetattr(child.master(), &modes), 0);
        modes.c_lflag = stopOnOutput ? (modes.c_lflag | TOSTOP) : (modes.c_lflag & ~TOSTOP);
        ASSERT_EQ(::tcsetattr(child.master(), TCSANOW, &modes), 0);
        child.poke();
        EXPECT_EQ(child.exitStatus(), 2) << "stopped by the terminal? TOSTOP " << stopOnOutput;
        EXPECT_EQ(child.output().find(Prompt), std::string::npos);
        EXPECT_EQ(child.output().find(TerminalPresenter::NoTerminalText) != std::string::npos, !stopOnOutput);
    }
}

TEST_F(Terminal, WithoutATerminalTheRowsArePrintedSafelyAndTheMailCancelled)
{
    LinkedList files;
    auto* plan = new MIMEFile("plan.pdf");
    plan->setProtected(true);
    plan->setProtectionKind(ProtectionPassword);
    files.addLast(plan);
    files.addLast(new MIMEFile("notes\xE2\x80\xAEtxt.exe"));
    pelorus::test::writeFile(home / "Pelorus/CautionDomain.pel", "EVIL.example\n");
    pelorus::test::writeFile(home / "Pelorus/CautionAttachment.pel", ".EXE\n");
    AddressConfirmationDialog model;
    model.setSubject("Hi\x1b[2J\r\nTo: boss@corp.example | ");
    model.setTo("Ann <ann@corp.example>, eve@evil.example");
    model.setCc("carol@partner.example");
    model.setBcc("<dave@hidden.example>");
    model.setAttachments(&files);
    model.setSecurity("IRM unprotected,S/MIME encrypted");
    const std::string expected = "\nRecipients Confirmation - Pelorus\n"
                                 "Subject: Hi\\x1B[2J\\x0D\\x0ATo: boss@corp.example | \n"
                                 "To: Ann <ann@corp.example> | \n"
                                 "To: eve@evil.example | x caution\n"
                                 "Cc: carol@partner.example | x\n"
                                 "Bcc: <dave@hidden.example> | x\n"
                                 "Attached Files: plan.pdf | PWD\n"
                                 "Attached Files: notes\\u{202E}txt.exe | x caution\n"
                                 "Security: IRM unprotected | x\n"
                                 "Security: S/MIME encrypted | \n"
                                 "Please confirm recipients for this mail.\nDo you send this mail?\n"
                                 "Cancelled: no one to confirm this mail.\n";

    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    ASSERT_EQ(::write(pipe[1], "y\n", 2), 2);  // a piped "y" confirms nothing
    const int devNull = ::open("/dev/null", O_RDONLY);
    for (const int input : {devNull, pipe[0]}) {
        TempDir out;
        const int output = ::open((out / "shown").c_str(), O_WRONLY | O_CREAT, 0600);
        TerminalPresenter presenter({input, output, 1ms});
        CancelToken token;
        EXPECT_EQ(presenter.present(model, token), 2);
        EXPECT_EQ(token.reason(), ConfirmationEnd::NoOneToAsk);
        ::close(output);
        EXPECT_EQ(pelorus::test::readFile(out / "shown"), expected);
    }
    for (const int fd : {devNull, pipe[0], pipe[1]})
        ::close(fd);
}

TEST(TerminalText, EscapesWhatATerminalWouldActOnAndIndentsNoticeLines)
{
    EXPECT_EQ(visibleText("a\xC2\x9B" "2J \xFF \xC3\xA9 \xE2\x81\xA6", false),
              "a\\x9B2J \\xFF \xC3\xA9 \\u{2066}");
    EXPECT_EQ(visibleText("\xE2\x82", false), "\\xE2\\x82") << "a cut character";
    EXPECT_EQ(balloonLine({"Pelorus", "Sent a mail:\r\n'x\ry'", NoticeKind::Information, 3000}),
              "Pelorus: info: Sent a mail:\n               'x\\x0Dy'\n");
    EXPECT_EQ(balloonLine({"Pelorus", "Started\r\n\r\nOnline\r\n", NoticeKind::Error, 3000}),
              "Pelorus: error: Started\n\n                Online\n");
}

// With ConfirmEachRecipient on, a yes is followed by one question per
// flagged recipient; a trusted recipient is not asked about, and any answer
// but yes to one of them cancels the mail.
TEST_F(Terminal, EachFlaggedRecipientIsAskedInTurnAfterTheMainYes)
{
    ASSERT_TRUE(ProxyConfiguration().setConfirmEachRecipient(true));
    for (const bool last : {false, true}) {
        SCOPED_TRACE(last);
        TerminalChild child([](int terminal, int) {
            TerminalPresenter presenter({terminal, terminal, 1000ms});
            AddressConfirmationDialog model;
            model.setTo("Eve <eve@evil.example>, ann@corp.example");
            model.setBcc("bob@other.example");
            CancelToken token;
            return presenter.present(model, token);
        });
        ASSERT_TRUE(child.waitForOutput(Prompt)) << child.output();
        child.type("y\n");
        ASSERT_TRUE(child.waitForOutput("Send to eve@evil.example? [y/N] ")) << child.output();
        child.type("yes\n");
        ASSERT_TRUE(child.waitForOutput("Send to bob@other.example? [y/N] ")) << child.output();
        child.type(last ? "y\n" : "n\n");
        EXPECT_EQ(child.exitStatus(), last ? 1 : 2) << child.output();
        EXPECT_TRUE(child.waitForOutput(last ? "Confirmed." : "Cancelled.")) << child.output();
        EXPECT_EQ(child.output().find("Send to ann@corp.example"), std::string::npos) << child.output();
    }
}
