// The relay between real programs: Debian's aiosmtpd as the server, and
// swaks, curl, msmtp and Python's smtplib as mail clients. A confirmed mail
// must arrive exactly as the same client delivers it without the proxy; a
// cancelled one must not arrive at all.
#include "RelayTestSupport.h"

#include "config/ProxyConfiguration.h"

#include <gtest/gtest.h>

#include <csignal>

using namespace pelorus::test;

namespace {

// Date and Message-ID are present, so no client adds its own.
const std::string Message = "Date: Mon, 07 Dec 2026 09:00:00 +0000\r\n"
                            "Message-ID: <figures-1@corp.example>\r\n"
                            "From: Alice <alice@corp.example>\r\n"
                            "To: Bob <bob@corp.example>\r\n"
                            "Cc: carol@partner.example\r\n"
                            "Subject: quarterly figures\r\n"
                            "\r\n"
                            ".a line that starts with a dot\r\n"
                            "..and one with two\r\n"
                            ".\r\n"   // only a dot, stuffed by the client
                            "end\r\n";

// How each client sends one mail to a port.
struct Client {
    const char* name;
    std::function<ProgramResult(std::uint16_t port, const std::string& file, const std::vector<std::string>& rcpts)>
        send;
};

std::vector<std::string> rcptArguments(const char* flag, const std::vector<std::string>& rcpts)
{
    std::vector<std::string> args;
    for (const auto& r : rcpts) {
        args.push_back(flag);
        args.push_back(r);
    }
    return args;
}

const Client Clients[] = {
    {"swaks",
     [](std::uint16_t port, const std::string& file, const std::vector<std::string>& rcpts) {
         std::string to;
         for (const auto& r : rcpts)
             to += (to.empty() ? "" : ",") + r;
         return runProgram({"swaks", "--server", "127.0.0.1", "--port", std::to_string(port), "--from",
                            "alice@corp.example", "--to", to, "--data", "@" + file, "--timeout", "60"});
     }},
    {"curl",
     [](std::uint16_t port, const std::string& file, const std::vector<std::string>& rcpts) {
         std::vector<std::string> args{"curl", "-v", "-sS", "--max-time", "60", "smtp://127.0.0.1:" + std::to_string(port),
                                       "--mail-from", "alice@corp.example", "-T", file};
         const auto r = rcptArguments("--mail-rcpt", rcpts);
         args.insert(args.end(), r.begin(), r.end());
         return runProgram(args);
     }},
    {"msmtp",
     [](std::uint16_t port, const std::string& file, const std::vector<std::string>& rcpts) {
         std::vector<std::string> args{"msmtp", "--host=127.0.0.1", "--port=" + std::to_string(port),
                                       "--auth=off", "--tls=off", "--from=alice@corp.example", "--"};
         args.insert(args.end(), rcpts.begin(), rcpts.end());
         return runProgram(args, readFile(file));
     }},
    {"smtplib",
     [](std::uint16_t port, const std::string& file, const std::vector<std::string>& rcpts) {
         std::string list;
         for (const auto& r : rcpts)
             list += "'" + r + "',";
         const std::string script =
             "import smtplib,sys\n"
             "data=open('" + file + "','rb').read()\n"
             "try:\n"
             "  with smtplib.SMTP('127.0.0.1'," + std::to_string(port) + ",timeout=60) as s:\n"
             "    s.sendmail('alice@corp.example',[" + list + "],data)\n"
             "except smtplib.SMTPResponseException as e:\n"
             "  print(e.smtp_code, e.smtp_error.decode()); sys.exit(3)\n";
         return runProgram({"/usr/bin/python3", "-c", script});
     }},
};

void PrintTo(const Client& client, std::ostream* os) { *os << client.name; }

class RealPeers : public testing::TestWithParam<Client> {
protected:
    static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }
    TempDir files;
    std::string messageFile()
    {
        writeFile(files / "message.eml", Message);
        return files / "message.eml";
    }
};

} // namespace

TEST_P(RealPeers, ConfirmedMailArrivesExactlyAsWithoutTheProxy)
{
    const Client& client = GetParam();
    const std::vector<std::string> rcpts{"bob@corp.example", "carol@partner.example", "dave@hidden.example"};
    SmtpSink direct;
    ASSERT_EQ(client.send(direct.port(), messageFile(), rcpts).status, 0);
    ASSERT_TRUE(direct.waitForMails(1, 10000));

    SmtpSink sink;
    ProxyRunner proxy(sink.port(), 1);
    proxy.writeList("TrustedDomain.pel", {"corp.example", "partner.example"});
    const ProgramResult sent = client.send(proxy.port(), messageFile(), rcpts);
    EXPECT_EQ(sent.status, 0) << sent.output << sent.errors;
    ASSERT_TRUE(sink.waitForMails(1, 10000));
    const auto mails = sink.mails();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].message, direct.mails()[0].message);
    EXPECT_EQ(mails[0].recipients, rcpts);

    ASSERT_EQ(proxy.presenter().shown().size(), 1u);
    const Presented shown = proxy.presenter().shown()[0];
    EXPECT_EQ(shown.subject, "quarterly figures");
    EXPECT_EQ(shown.bcc, "<dave@hidden.example>,");
    ASSERT_EQ(shown.bccRows.size(), 1u);
    EXPECT_TRUE(shown.bccRows[0].flagged);
    ASSERT_EQ(shown.ccRows.size(), 1u);
    EXPECT_FALSE(shown.ccRows[0].flagged);
    ASSERT_TRUE(proxy.waitIdle());
    EXPECT_TRUE(listFolder(proxy.spoolFolder()).empty());
}

TEST_P(RealPeers, CancelledMailNeverArrives)
{
    const Client& client = GetParam();
    SmtpSink sink;
    ProxyRunner proxy(sink.port(), 2);
    const ProgramResult sent = client.send(proxy.port(), messageFile(), {"eve@elsewhere.example"});
    EXPECT_NE(sent.status, 0);
    EXPECT_NE((sent.output + sent.errors).find("450"), std::string::npos) << sent.output << sent.errors;
    ASSERT_TRUE(proxy.waitIdle());
    EXPECT_TRUE(sink.mails().empty());
    EXPECT_TRUE(listFolder(proxy.spoolFolder()).empty());
}

INSTANTIATE_TEST_SUITE_P(Clients, RealPeers, testing::ValuesIn(Clients),
                         [](const testing::TestParamInfo<Client>& info) { return info.param.name; });

TEST(RealPeersExtra, SwaksSeesThe450Exactly)
{
    std::signal(SIGPIPE, SIG_IGN);
    SmtpSink sink;
    ProxyRunner proxy(sink.port(), 2);
    const ProgramResult sent =
        runProgram({"swaks", "--server", "127.0.0.1", "--port", std::to_string(proxy.port()), "--from", "a@x.example",
                    "--to", "b@y.example", "--body", "hello"});
    EXPECT_NE(sent.output.find("<** 450 Pelorus action has been cancelled."), std::string::npos) << sent.output;
}

TEST(RealPeersExtra, PipeliningClientThroughThePipeliningServer)
{
    std::signal(SIGPIPE, SIG_IGN);
    SmtpSink sink({"--pipelining"});
    ProxyRunner proxy(sink.port(), 1);
    proxy.writeList("TrustedDomain.pel", {"corp.example"});
    const ProgramResult sent =
        runProgram({"swaks", "--pipeline", "--server", "127.0.0.1", "--port", std::to_string(proxy.port()),
                    "--from", "a@corp.example", "--to", "b@corp.example,c@evil.example,d@corp.example", "--header",
                    "Subject: piped", "--body", "hello"});
    EXPECT_EQ(sent.status, 0) << sent.output;
    EXPECT_NE(sent.output.find("PIPELINING"), std::string::npos) << "the client was offered pipelining";
    ASSERT_TRUE(sink.waitForMails(1, 10000));
    EXPECT_EQ(sink.mails()[0].recipients.size(), 3u);
    ASSERT_EQ(proxy.presenter().shown().size(), 1u);
    const Presented shown = proxy.presenter().shown()[0];
    ASSERT_EQ(shown.toRows.size(), 3u);
    EXPECT_TRUE(shown.toRows[1].flagged);
}

TEST(RealPeersExtra, AuthPlainPassesThrough)
{
    std::signal(SIGPIPE, SIG_IGN);
    SmtpSink sink({"--auth"});
    ProxyRunner proxy(sink.port(), 1);
    const std::string script = "import smtplib\n"
                               "with smtplib.SMTP('127.0.0.1'," + std::to_string(proxy.port()) + ",timeout=60) as s:\n"
                               "  s.ehlo(); s.login('user','secret')\n"
                               "  s.sendmail('a@x.example',['b@y.example'],b'Subject: auth\\r\\n\\r\\nhi\\r\\n')\n";
    const ProgramResult sent = runProgram({"/usr/bin/python3", "-c", script});
    EXPECT_EQ(sent.status, 0) << sent.errors;
    EXPECT_TRUE(sink.waitForMails(1, 10000));
}

namespace {

// The sink behind a proxy that confirms every question and trusts corp.example.
class RealPeersLists : public testing::Test {
protected:
    static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }
    void SetUp() override { proxy.writeList("TrustedDomain.pel", {"corp.example"}); }

    // swaks sends a mail from alice with any further arguments; its exit status.
    int swaks(const std::string& to, const std::vector<std::string>& more = {})
    {
        std::vector<std::string> args{"swaks", "--server", "127.0.0.1", "--port", std::to_string(proxy.port()),
                                      "--from", "alice@corp.example", "--to", to, "--header", "Subject: s"};
        args.insert(args.end(), more.begin(), more.end());
        return runProgram(args).status;
    }

    SmtpSink sink;
    ProxyRunner proxy{sink.port(), 1};
};

} // namespace

// A caution domain asks about a fully trusted recipient; a caution
// attachment asks about a mail to trusted recipients only; the message says
// where each fired, before the verdict.
TEST_F(RealPeersLists, CautionsAskAndSayWhereTheyFired)
{
    proxy.writeList("TrustedRecipient.plx", {"bob@rival.example", "carol@corp.example"});
    proxy.writeList("CautionDomain.pel", {"", "RIVAL.example"});
    proxy.writeList("CautionAttachment.pel", {"", ".KEY", "confidential"});
    TempDir files;
    const auto send = [&](const std::string& to, const std::string& attachment) {
        writeFile(files / attachment, "content\n");
        return swaks(to, {"--attach-name", attachment, "--attach", "@" + files / attachment});
    };
    EXPECT_EQ(send("bob@rival.example,carol@corp.example", "server.key"), 0);
    EXPECT_EQ(send("carol@corp.example", "Q3-Confidential.xlsx"), 0);
    EXPECT_EQ(send("carol@corp.example", "notes.txt"), 0);
    ASSERT_TRUE(sink.waitForMails(3, 10000));
    const std::vector<Presented> shown = proxy.presenter().shown();
    ASSERT_EQ(shown.size(), 2u) << "the mail with nothing under caution passes unasked";
    EXPECT_EQ(shown[0].message, "Warning:Found unauthorized recipients\r\nCaution: bob@rival.example\r\n"
                                "Caution: attachment server.key\r\n"
                                "Warning:This mail is not protected by IRM and also not encrypted by S/MIME.\r\n"
                                "Please confirm recipients.");
    ASSERT_EQ(shown[0].toRows.size(), 2u);
    EXPECT_EQ(shown[0].toRows[0].second, "x caution");
    EXPECT_EQ(shown[0].toRows[1].second, "");
    EXPECT_NE(shown[1].message.find("Caution: attachment Q3-Confidential.xlsx\r\n"), std::string::npos)
        << shown[1].message;
    ASSERT_EQ(shown[1].attachmentRows.size(), 1u);
    EXPECT_EQ(shown[1].attachmentRows[0].second, "x caution");
}

// A first mail to a fully trusted recipient is asked about; the rows and the
// message say who is new; once sent, the address is known. A history that
// cannot be read makes everyone new and says so.
TEST_F(RealPeersLists, FirstTimeRecipientsAreAskedAboutUntilAMailWentOut)
{
    proxy.writeList("TrustedRecipient.plx", {"carol@corp.example", "known@corp.example"});
    proxy.writeHistory("# since 2020-01-01\nknown@corp.example\t2020-01-01\n");
    EXPECT_EQ(swaks("Carol@corp.example,known@corp.example,bob@rival.example"), 0);
    EXPECT_EQ(swaks("carol@corp.example,known@corp.example"), 0);
    proxy.writeHistory("# since 2020-01-01\nknown@corp.example\n");
    EXPECT_EQ(swaks("known@corp.example"), 0);
    ASSERT_TRUE(sink.waitForMails(3, 10000));
    const std::vector<Presented> shown = proxy.presenter().shown();
    ASSERT_EQ(shown.size(), 2u) << "the second mail goes to known, trusted recipients only";
    EXPECT_EQ(shown[0].message.rfind("Warning:Found unauthorized recipients\r\n"
                                     "First mail to: Carol@corp.example, bob@rival.example\r\nWarning:This",
                                     0),
              0u)
        << shown[0].message;
    std::vector<std::string> flags;
    for (const auto& row : shown[0].toRows)
        flags.push_back(row.second);
    EXPECT_EQ(flags, (std::vector<std::string>{"new", "", "x new"}));
    EXPECT_TRUE(shown[0].toRows[0].flagged);
    ASSERT_EQ(shown[1].toRows.size(), 1u);
    EXPECT_EQ(shown[1].toRows[0].second, "new");
    EXPECT_TRUE(proxy.notices().hasBalloonContaining(
        "Pelorus could not read the list of sent recipients; every recipient is shown as new."));
    // With the flags off, nobody is new, whatever the history.
    ASSERT_TRUE(MAIL::ProxyConfiguration().setFlagNewRecipients(false));
    EXPECT_EQ(swaks("known@corp.example"), 0);
    ASSERT_TRUE(sink.waitForMails(4, 10000));
    EXPECT_EQ(proxy.presenter().shown().size(), 2u);
}
