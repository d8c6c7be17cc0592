// The real executable: started with its own folders, a real SMTP server on
// 127.0.0.1 and real clients, confirmed at its terminal prompt.
#include "ProgramProcess.h"

#include "config/ProxyConfiguration.h"
#include "relay/RelayTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <thread>

using namespace pelorus::test;

namespace {

class Program : public testing::Test {
protected:
    static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }

    // Stores the settings the program will read from home, and any other
    // that more sets.
    static void configure(const TempDir& home, std::uint16_t serverPort, std::uint16_t proxyPort,
                          const std::function<bool(MAIL::ProxyConfiguration&)>& more = nullptr)
    {
        programEnvironment(home);
        ScopedEnv config("XDG_CONFIG_HOME", home / "config");
        MAIL::ProxyConfiguration settings;
        ASSERT_TRUE(settings.setServer("127.0.0.1"));
        ASSERT_TRUE(settings.setPort(serverPort));
        ASSERT_TRUE(settings.setProxyPort(proxyPort));
        if (more)
            ASSERT_TRUE(more(settings));
    }

    // Sends one mail with smtplib in the background; its result comes later.
    static std::thread sendMail(std::uint16_t port, const std::string& message, const std::vector<std::string>& to,
                                ProgramResult& result)
    {
        std::string list;
        for (const auto& r : to)
            list += "'" + r + "',";
        const std::string script = "import smtplib,sys\n"
                                   "try:\n"
                                   "  with smtplib.SMTP('127.0.0.1'," +
                                   std::to_string(port) +
                                   ",timeout=120) as s:\n"
                                   "    s.sendmail('alice@corp.example',[" + list + "],sys.stdin.buffer.read())\n"
                                   "  print('sent')\n"
                                   "except smtplib.SMTPResponseException as e:\n"
                                   "  print(e.smtp_code, e.smtp_error.decode())\n"
                                   "except Exception as e:\n"
                                   "  print('error', e)\n";
        return std::thread([script, message, &result] {
            result = runProgram({"/usr/bin/python3", "-c", script}, message, 120000);
        });
    }
};

const std::string Mail = "To: Bob <bob@corp.example>\r\nCc: carol@partner.example\r\nSubject: figures \x1b[2J\r\n"
                         "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
                         "--b1\r\nContent-Type: text/plain\r\n\r\nhello\r\n"
                         "--b1\r\nContent-Type: application/octet-stream; name=\"plan.txt\"\r\n"
                         "Content-Disposition: attachment; filename=\"plan.txt\"\r\n"
                         "Content-Transfer-Encoding: base64\r\n\r\naGVsbG8=\r\n--b1--\r\n";

} // namespace

TEST_F(Program, VersionHelpAndBadOptions)
{
    TempDir home;
    QuickResult r = runPelorus({"--version"}, home);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "Pelorus Version 1.0.0.9\n");
    r = runPelorus({"--help"}, home);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("--proxy-port N"), std::string::npos);
    r = runPelorus({"--frobnicate"}, home);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.errors.find("unknown option"), std::string::npos);
}

TEST_F(Program, InvalidSettingsAreStoredNowhere)
{
    TempDir home;
    const QuickResult r = runPelorus({"--server", "127.0.0.1", "--port", "65536", "--headless"}, home);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.errors.find("Port number is invalid."), std::string::npos);
    EXPECT_FALSE(pathExists(home / "config/Pelorus/settings.reg"));
}

TEST_F(Program, SettingsFromTheCommandLineAreStored)
{
    const std::uint16_t port = freePort();
    ProgramProcess program(
        {{"--headless", "--server", "127.0.0.1", "--port", "587", "--proxy-port", std::to_string(port)}});
    ASSERT_TRUE(program.waitListening(port)) << program.output();
    EXPECT_EQ(program.terminate(SIGTERM), 0);
    const std::string settings = readFile(program.home() / "config/Pelorus/settings.reg");
    EXPECT_NE(settings.find("\"Server\"=\"127.0.0.1\""), std::string::npos) << settings;
    EXPECT_NE(settings.find("\"Port\"=dword:0000024b"), std::string::npos) << settings;
    char proxyPort[32];
    std::snprintf(proxyPort, sizeof proxyPort, "\"ProxyPort\"=dword:%08x", port);
    EXPECT_NE(settings.find(proxyPort), std::string::npos) << settings;
}

TEST_F(Program, ASecondCopyLeavesTheFirstAlone)
{
    SmtpSink sink;
    const std::uint16_t port = freePort();
    ProgramProcess first({{"--headless"}});
    configure(first.home(), sink.port(), port);
    ASSERT_TRUE(first.waitListening(port));
    const QuickResult second = runPelorus({"--headless"}, first.home());
    EXPECT_EQ(second.status, 255);
    EXPECT_NE(second.errors.find("Pelorus is already running."), std::string::npos);
    EXPECT_TRUE(first.waitListening(port, 2000)) << "the first copy still serves";
    EXPECT_EQ(first.terminate(SIGTERM), 0);
}

TEST_F(Program, ATakenPortEndsStartUpWithItsReason)
{
    TempDir home;
    ScriptedServer holder([](Connection&) {});
    configure(home, 25, holder.port());
    const QuickResult r = runPelorus({"--headless"}, home);
    EXPECT_EQ(r.status, 35) << "-1501 gives 35";
    EXPECT_NE(r.errors.find("Exception happend. Error=-1501"), std::string::npos) << r.errors;
    EXPECT_NE(r.errors.find("is already in use by another program."), std::string::npos) << r.errors;
}

// A DISPLAY left over from an ended session (no X server behind it) must
// not make the window toolkit abort: the program says so and runs in the
// terminal, here up to its start-up failure on a taken port.
TEST_F(Program, ADisplayThatDoesNotAnswerMeansTheTerminal)
{
    TempDir home;
    ScriptedServer holder([](Connection&) {});
    configure(home, 25, holder.port());
    for (const char* display : {":87", "unix:87.0", "127.0.0.1:87"}) {
        const QuickResult r = runPelorus({}, home, {std::string("DISPLAY=") + display});
        EXPECT_EQ(r.status, 35) << display;
        EXPECT_NE(r.errors.find(std::string("the X display ") + display + " does not answer"), std::string::npos)
            << r.errors;
    }
}

TEST_F(Program, FreshHomeListensOn2525AsAnOrdinaryUser)
{
    ProgramProcess program({{"--headless"}, false, true});
    EXPECT_TRUE(program.waitForOutput("no SMTP server is set"));
    EXPECT_TRUE(program.waitListening(2525));
    if (::geteuid() == 0) {  // the program runs as nobody: this client is another account's
        auto client = connectTo(2525);
        ASSERT_NE(client, nullptr);
        EXPECT_EQ(client->readReply(), "554 5.7.1 Pelorus serves only the user who started it.\r\n");
    }
    EXPECT_EQ(program.terminate(SIGTERM), 0);
}

TEST_F(Program, ConfirmedAtTheTerminalPromptAndCancelled)
{
    SmtpSink sink;
    const std::uint16_t port = freePort();
    TempDir home;
    configure(home, sink.port(), port);
    ProgramProcess program({{"--headless"}, true, false, &home});
    ASSERT_TRUE(program.waitListening(port));

    ProgramResult first;
    std::thread client = sendMail(port, Mail, {"bob@corp.example", "carol@partner.example", "dave@hidden.example"},
                                  first);
    ASSERT_TRUE(program.waitForOutput("If 'Yes', please check the box."));
    const std::string shown = program.output();
    EXPECT_NE(shown.find("Recipients Confirmation - Pelorus"), std::string::npos);
    EXPECT_NE(shown.find("Subject: figures \\x1B[2J"), std::string::npos) << shown;
    EXPECT_NE(shown.find("To: Bob <bob@corp.example> | x"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Cc: carol@partner.example | x"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Bcc: <dave@hidden.example> | x"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Attached Files: plan.txt | x"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Security: IRM unprotected | x"), std::string::npos) << shown;
    program.type("y\r");
    client.join();
    EXPECT_NE(first.output.find("sent"), std::string::npos) << first.output;
    ASSERT_TRUE(sink.waitForMails(1, 10000));
    EXPECT_NE(sink.mails()[0].message.find("hello"), std::string::npos);

    const std::size_t mark = program.output().size();
    ProgramResult second;
    client = sendMail(port, Mail, {"eve@evil.example"}, second);
    ASSERT_TRUE(program.waitForOutput("If 'Yes', please check the box.", 20000, mark));
    program.type("\r");
    client.join();
    EXPECT_NE(second.output.find("450 Pelorus action has been cancelled."), std::string::npos) << second.output;
    EXPECT_EQ(sink.mails().size(), 1u);
    // The record, read while the program runs (and holds its lock); the
    // cancelled mail's line follows the 450 closely.
    QuickResult record = runPelorus({"--decisions"}, home);
    for (int tries = 0; tries < 50 && record.output.find("cancelled") == std::string::npos; ++tries)
        record = runPelorus({"--decisions"}, home);
    EXPECT_EQ(record.status, 0);
    EXPECT_NE(record.output.find("sent          3  bob@corp.example"), std::string::npos) << record.output;
    EXPECT_NE(record.output.find("cancelled     1  eve@evil.example"), std::string::npos) << record.output;
    EXPECT_EQ(program.terminate(SIGTERM), 0);
    EXPECT_TRUE(listFolder(home / "tmp/pelorus").empty());
}

// With ConfirmEachRecipient on, a no to the second flagged recipient
// cancels the whole mail.
TEST_F(Program, ANoToTheSecondFlaggedRecipientCancelsTheMail)
{
    SmtpSink sink;
    const std::uint16_t port = freePort();
    TempDir home;
    const auto eachRecipient = [](MAIL::ProxyConfiguration& s) { return s.setConfirmEachRecipient(true); };
    ASSERT_NO_FATAL_FAILURE(configure(home, sink.port(), port, eachRecipient));
    ProgramProcess program({{"--headless"}, true, false, &home});
    ASSERT_TRUE(program.waitListening(port));
    ProgramResult result;
    std::thread client = sendMail(port, Mail, {"bob@corp.example", "carol@partner.example"}, result);
    for (const auto& [question, answer] : {std::pair{"Send this mail? [y/N] ", "y\r"},
                                           {"Send to bob@corp.example? [y/N] ", "y\r"},
                                           {"Send to carol@partner.example? [y/N] ", "n\r"}}) {
        ASSERT_TRUE(program.waitForOutput(question)) << program.output();
        program.type(answer);
    }
    client.join();
    EXPECT_NE(result.output.find("450 Pelorus action has been cancelled."), std::string::npos) << result.output;
    EXPECT_TRUE(sink.mails().empty());
    EXPECT_EQ(program.terminate(SIGTERM), 0);
}

TEST_F(Program, ShutDownWhileOneMailWaitsAndAnotherArrives)
{
    SmtpSink sink;
    const std::uint16_t port = freePort();
    TempDir home;
    configure(home, sink.port(), port);
    ProgramProcess program({{"--headless"}, true, false, &home});
    ASSERT_TRUE(program.waitListening(port));

    ProgramResult waiting;
    std::thread first = sendMail(port, Mail, {"eve@evil.example"}, waiting);
    ASSERT_TRUE(program.waitForOutput("If 'Yes', please check the box."));
    // A second client in the middle of its data.
    auto receiving = connectTo(port);
    ASSERT_NE(receiving, nullptr);
    EXPECT_EQ(receiving->readReply().substr(0, 3), "220");
    receiving->send("EHLO me\r\nMAIL FROM:<a@corp.example>\r\nRCPT TO:<b@evil.example>\r\nDATA\r\n");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(receiving->readReply().substr(0, 1), "2");
    EXPECT_EQ(receiving->readReply().substr(0, 3), "354");
    receiving->send("Subject: half\r\n\r\nhalf a mail");

    EXPECT_EQ(program.terminate(SIGTERM), 0);
    first.join();
    EXPECT_NE(waiting.output.find("450"), std::string::npos) << waiting.output;
    std::string rest;
    EXPECT_TRUE(receiving->waitClosed(10000, &rest));
    EXPECT_EQ(rest.find("250"), std::string::npos);
    EXPECT_TRUE(sink.mails().empty());
    EXPECT_TRUE(listFolder(home / "tmp/pelorus").empty());
}

// With a hold set, "u K" at the terminal takes a confirmed mail back, and
// the end of the program cancels the mail still held: neither reaches the
// server.
TEST_F(Program, HeldMailsAreUndoneAtTheTerminalAndCancelledAtTheEnd)
{
    SmtpSink sink;
    const std::uint16_t port = freePort();
    TempDir home;
    ASSERT_NO_FATAL_FAILURE(configure(home, sink.port(), port, [](auto& s) { return s.setSendDelay(60); }));
    ProgramProcess program({{"--headless"}, true, false, &home});
    ASSERT_TRUE(program.waitListening(port));
    ProgramResult undone, ended;
    std::thread client = sendMail(port, Mail, {"eve@evil.example"}, undone);
    ASSERT_TRUE(program.waitForOutput("Send this mail? [y/N] "));
    program.type("y\r");
    ASSERT_TRUE(program.waitForOutput("Sending in 60 s: 'figures \\x1B[2J'. Type u 1 and Enter to undo."))
        << program.output();
    program.type("u 1\r");
    client.join();
    EXPECT_NE(undone.output.find("450 Pelorus action has been cancelled."), std::string::npos) << undone.output;
    EXPECT_TRUE(program.waitForOutput("Sending was undone:"));

    const std::size_t mark = program.output().size();
    client = sendMail(port, Mail, {"eve@evil.example"}, ended);
    ASSERT_TRUE(program.waitForOutput("Send this mail? [y/N] ", 20000, mark));
    program.type("y\r");
    ASSERT_TRUE(program.waitForOutput("Type u 2 and Enter to undo.", 20000, mark));
    EXPECT_EQ(program.terminate(SIGTERM), 0);
    client.join();
    EXPECT_NE(ended.output.find("450 Pelorus action has been cancelled."), std::string::npos) << ended.output;
    EXPECT_TRUE(sink.mails().empty());
    EXPECT_TRUE(listFolder(home / "tmp/pelorus").empty());
}
