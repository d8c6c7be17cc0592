// The relay against scripted peers, one conversation per case: what a real
// client or server will not do on demand.
#include "FakeSmtpServer.h"
#include "RelayTestSupport.h"

#include "config/ProxyConfiguration.h"
#include "relay/RelayError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace pelorus::test;

namespace {

class Conversation : public testing::Test {
protected:
    static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }

    // Connects a client and reads the relayed greeting.
    std::unique_ptr<Connection> client(ProxyRunner& proxy)
    {
        auto connection = connectTo(proxy.port());
        EXPECT_NE(connection, nullptr);
        const int on = 1;
        ::setsockopt(connection->fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        EXPECT_EQ(connection->readReply().substr(0, 4), "220 ");
        return connection;
    }

    // A client that said EHLO, so that the proxy knows what the server offers.
    std::unique_ptr<Connection> ehloClient(ProxyRunner& proxy)
    {
        auto c = client(proxy);
        c->send("EHLO me\r\n");
        c->readReply();
        return c;
    }

    // MAIL and each RCPT, all accepted.
    void envelope(Connection& c, const std::vector<std::string>& rcpts = {"<bob@corp.example>"})
    {
        ASSERT_TRUE(c.send("MAIL FROM:<alice@corp.example>\r\n"));
        ASSERT_EQ(c.readReply().substr(0, 3), "250");
        for (const std::string& rcpt : rcpts) {
            ASSERT_TRUE(c.send("RCPT TO:" + rcpt + "\r\n"));
            ASSERT_EQ(c.readReply().substr(0, 3), "250");
        }
        ASSERT_TRUE(c.send("DATA\r\n"));
        ASSERT_EQ(c.readReply(), "354 Ok Send data ending with <CRLF>.<CRLF>\r\n");
    }

    static void pause() { ::usleep(40000); }  // lets the proxy take one receive
};

const std::string Body = "Subject: split\r\nTo: bob@corp.example\r\n\r\nline one\r\n..dot line\r\n";

} // namespace

TEST_F(Conversation, EndMarkSplitAtEveryPointAcrossTwoReceives)
{
    const std::string whole = Body + ".\r\n";
    // Every cut inside or just around the final CR LF . CR LF.
    for (std::size_t cut = whole.size() - 6; cut < whole.size(); ++cut) {
        FakeSmtpServer server;
        ProxyRunner proxy(server.port());
        auto c = client(proxy);
        envelope(*c);
        c->send(whole.substr(0, cut));
        pause();
        c->send(whole.substr(cut));
        EXPECT_EQ(c->readReply().substr(0, 3), "250") << "cut at " << cut;
        ASSERT_EQ(server.mails().size(), 1u) << "cut at " << cut;
        EXPECT_EQ(server.mails()[0], whole) << "the mail arrives exactly as sent";
        c->send("QUIT\r\n");
        EXPECT_EQ(c->readReply().substr(0, 3), "221");
    }
}

TEST_F(Conversation, EmptyMailRightAfterData)
{
    FakeSmtpServer server;
    ProxyRunner proxy(server.port());
    auto c = client(proxy);
    envelope(*c);
    c->send(".\r\n");
    EXPECT_EQ(c->readReply().substr(0, 3), "250");
    ASSERT_EQ(server.mails().size(), 1u);
    EXPECT_EQ(server.mails()[0], ".\r\n");
}

TEST_F(Conversation, PipelinedBatchGetsOneReplyPerCommandAndEveryRecipient)
{
    FakeSmtpServer server;
    ProxyRunner proxy(server.port(), 1);
    proxy.writeList("TrustedDomain.pel", {"corp.example"});
    auto c = client(proxy);
    c->send("MAIL FROM:<alice@corp.example>\r\nRCPT TO:<bob@corp.example>\r\nrcpt to:<eve@evil.example>\r\n"
            "DATA\r\n");
    EXPECT_EQ(c->readReply().substr(0, 3), "250");
    EXPECT_EQ(c->readReply().substr(0, 3), "250");
    EXPECT_EQ(c->readReply().substr(0, 3), "250");
    EXPECT_EQ(c->readReply().substr(0, 3), "354");
    c->send("Subject: batch\r\nTo: bob@corp.example\r\n\r\nhi\r\n.\r\nQUIT\r\n");
    EXPECT_EQ(c->readReply().substr(0, 3), "250");
    EXPECT_EQ(c->readReply().substr(0, 3), "221") << "bytes after the end mark are the next command";
    ASSERT_EQ(proxy.presenter().shown().size(), 1u);
    const Presented shown = proxy.presenter().shown()[0];
    EXPECT_EQ(shown.bcc, "<eve@evil.example>,");
    ASSERT_EQ(shown.bccRows.size(), 1u);
    EXPECT_TRUE(shown.bccRows[0].flagged);
    EXPECT_NE(shown.message.find("Warning:Found unauthorized recipients"), std::string::npos);
}

TEST_F(Conversation, CommandSplitAcrossReceives)
{
    FakeSmtpServer server;
    ProxyRunner proxy(server.port());
    auto c = client(proxy);
    c->send("MAIL FR");
    pause();
    c->send("OM:<alice@corp.example>\r\n");
    EXPECT_EQ(c->readReply().substr(0, 3), "250");
    EXPECT_NE(server.received().find("MAIL FROM:<alice@corp.example>\r\n"), std::string::npos);
}

TEST_F(Conversation, MultiLineReplySplitAcrossSegmentsIsRelayedWhole)
{
    FakeSmtpServer::Behaviour b;
    b.ehloPieces = {"250-fake.example\r\n250-SIZE 1000", "\r\n250-CHUNKING\r\n", "250-STARTTLS\r\n250 BINARYMIME\r\n"};
    FakeSmtpServer server(b);
    ProxyRunner proxy(server.port());
    auto c = client(proxy);
    c->send("EHLO me\r\n");
    EXPECT_EQ(c->readReply(), "250-fake.example\r\n250 SIZE 1000\r\n")
        << "CHUNKING, STARTTLS and BINARYMIME are hidden; the last line ends the reply";
    c->send("NOOP\r\n");
    EXPECT_EQ(c->readReply(), "250 2.0.0 Ok\r\n") << "no stray reply line was left behind";
}

TEST_F(Conversation, Greeting421EndsTheSession)
{
    FakeSmtpServer::Behaviour b;
    b.greeting = "421 4.3.2 busy\r\n";
    FakeSmtpServer server(b);
    ProxyRunner proxy(server.port());
    auto c = connectTo(proxy.port());
    EXPECT_EQ(c->readReply(), "421 4.3.2 busy\r\n");
    EXPECT_TRUE(c->waitClosed());
    ASSERT_TRUE(proxy.waitIdle());
    EXPECT_TRUE(proxy.notices().hasBalloonContaining("SMTP Server is NOT ready."));
}

TEST_F(Conversation, RefusalsAreRelayedAndTheSessionGoesOn)
{
    FakeSmtpServer::Behaviour b;
    b.replies["RSET"] = "500 5.5.1 what?\r\n";
    b.replies["VRFY"] = "550 5.1.1 no such user\r\n";
    b.replies["QUIT"] = "250 not leaving\r\n";
    FakeSmtpServer server(b);
    ProxyRunner proxy(server.port());
    auto c = client(proxy);
    c->send("RSET\r\n");
    EXPECT_EQ(c->readReply(), "500 5.5.1 what?\r\n");
    c->send("VRFY x\r\n");
    EXPECT_EQ(c->readReply(), "550 5.1.1 no such user\r\n");
    c->send("QUIT\r\n");
    EXPECT_EQ(c->readReply(), "250 not leaving\r\n");
    c->send("NOOP\r\n");
    EXPECT_EQ(c->readReply(), "250 2.0.0 Ok\r\n");
}

TEST_F(Conversation, Reply354ToAnotherCommandIsNeverRelayed)
{
    FakeSmtpServer::Behaviour b;
    b.replies["NOOP"] = "354 send it\r\n";
    FakeSmtpServer server(b);
    ProxyRunner proxy(server.port());
    auto c = client(proxy);
    c->send("NOOP\r\n");
    EXPECT_EQ(c->readReply(), "451 4.3.0 Pelorus: unexpected reply from the SMTP server.\r\n");
    EXPECT_TRUE(c->waitClosed());
}

TEST_F(Conversation, DataRefusedAtForwardingGivesTheServersReply)
{
    FakeSmtpServer::Behaviour b;
    b.replies["DATA"] = "554 5.5.1 no valid recipients\r\n";
    FakeSmtpServer server(b);
    ProxyRunner proxy(server.port());
    auto c = client(proxy);
    envelope(*c);
    c->send(Body + ".\r\n");
    EXPECT_EQ(c->readReply(), "554 5.5.1 no valid recipients\r\n");
    EXPECT_TRUE(c->waitClosed());
    EXPECT_EQ(server.received().find("line one"), std::string::npos) << "no data reached the server";
}

TEST_F(Conversation, ServerClosingInTheMiddleOfABigMail)
{
    FakeSmtpServer::Behaviour b;
    b.closeAfterDataBytes = 1 << 20;
    FakeSmtpServer server(b);
    ProxyRunner proxy(server.port());
    auto c = client(proxy);
    envelope(*c);
    const std::string line(998, 'x');
    std::string mail = "Subject: big\r\n\r\n";
    while (mail.size() < 5u * 1024 * 1024)
        mail += line + "\r\n";
    c->send(mail + ".\r\n");
    EXPECT_EQ(c->readReply(30000), "451 4.4.2 Pelorus lost the SMTP server while sending this mail.\r\n");
    EXPECT_TRUE(c->waitClosed());
    EXPECT_EQ(server.received().find("\r\n.\r\n"), std::string::npos) << "no end mark reached the server";
    EXPECT_TRUE(server.mails().empty());
}

TEST_F(Conversation, ServerFallingSilentInTheMiddleOfABigMail)
{
    FakeSmtpServer::Behaviour b;
    b.stopReadingAfterDataBytes = 64 * 1024;
    FakeSmtpServer server(b);
    ProxyRunner proxy(server.port());
    auto c = client(proxy);
    envelope(*c);
    std::string mail = "Subject: big\r\n\r\n";
    while (mail.size() < 5u * 1024 * 1024)
        mail += std::string(998, 'y') + "\r\n";
    c->send(mail + ".\r\n");
    // The send limit is 30 seconds; the client hears of it then.
    EXPECT_EQ(c->readReply(45000), "451 4.4.2 Pelorus lost the SMTP server while sending this mail.\r\n");
    EXPECT_EQ(server.received().find("\r\n.\r\n"), std::string::npos);
}

TEST_F(Conversation, BareLineEndsInDataAreRefusedAndNeverForwarded)
{
    for (const std::string& data : {std::string("Subject: x\r\n\r\nsmuggled\n.\nMAIL FROM:<x@y>\r\n.\r\n"),
                                    std::string("Subject: x\r\n\r\nlone\rcr\r\n.\r\n")}) {
        FakeSmtpServer server;
        ProxyRunner proxy(server.port());
        auto c = client(proxy);
        envelope(*c);
        c->send(data);
        EXPECT_EQ(c->readReply(), "554 5.6.0 Pelorus refused this mail: bare CR or LF in its data.\r\n");
        c->send("NOOP\r\n");
        EXPECT_EQ(c->readReply().substr(0, 3), "250") << "the session goes on";
        EXPECT_TRUE(server.mails().empty());
        EXPECT_EQ(server.received().find("DATA"), std::string::npos);
        EXPECT_NE(server.received().find("RSET\r\n"), std::string::npos);
        EXPECT_TRUE(proxy.notices().hasBalloonContaining("bare CR or LF"));
    }
}

TEST_F(Conversation, CrLfSplitBetweenReceivesIsNotBare)
{
    FakeSmtpServer server;
    ProxyRunner proxy(server.port());
    auto c = client(proxy);
    envelope(*c);
    c->send("Subject: x\r\n\r\nline\r");
    pause();
    c->send("\nmore\r\n.\r\n");
    EXPECT_EQ(c->readReply().substr(0, 3), "250");
    EXPECT_EQ(server.mails().size(), 1u);
}

// Every line is read by one grammar; what it refuses, and every verb the
// proxy does not know, never reaches the server, which reads lines the
// lenient way (FakeSmtpServer).
TEST_F(Conversation, CommandChecks)
{
    const std::string unrecognized = "500 5.5.2 Syntax error, command unrecognized\r\n";
    const std::string notRelayed = "502 5.5.1 Pelorus does not relay this command.\r\n";
    const std::string syntax = "501 5.5.4 Syntax error in parameters\r\n";
    struct Case {
        const char* name;
        std::string line;
        std::string reply;
        bool relayed;
    };
    for (const Case& k : {
             Case{"LeadingSpace", " RCPT TO:<x@outside.example>\r\n", unrecognized, false},
             Case{"LeadingTab", "\tRCPT TO:<x>\r\n", unrecognized, false},
             Case{"VerticalTabAfterVerb", "RCPT\vTO:<x>\r\n", unrecognized, false},
             Case{"FormFeedAfterVerb", "RCPT\fTO:<x>\r\n", unrecognized, false},
             Case{"TabAfterVerb", "RCPT\tTO:<x>\r\n", unrecognized, false},
             Case{"LeadingSpaceMail", " MAIL FROM:<a@x>\r\n", unrecognized, false},
             Case{"TabInArgument", "MAIL FROM:<a@x>\tSIZE=10\r\n", unrecognized, false},
             Case{"BareCR", "NOOP\rRCPT TO:<x@y>\r\n", unrecognized, false},
             Case{"Nul", std::string("NOOP") + '\0' + "RCPT TO:<x@y>\r\n", unrecognized, false},
             Case{"Delete", "NOOP\x7f\r\n", unrecognized, false},
             Case{"ColonAfterVerb", "RCPT:<x@y>\r\n", unrecognized, false},
             Case{"DigitInVerb", "X1 y\r\n", unrecognized, false},
             Case{"EmptyLine", "\r\n", unrecognized, false},
             Case{"Xclient", "XCLIENT ADDR=192.0.2.1\r\n", notRelayed, false},
             Case{"Xforward", "XFORWARD NAME=spoof.example\r\n", notRelayed, false},
             Case{"Etrn", "ETRN example.org\r\n", notRelayed, false},
             Case{"DataWithArgument", "DATA now\r\n", syntax, false},
             Case{"MailWithoutFrom", "MAIL <a@x>\r\n", syntax, false},
             Case{"RcptWithoutTo", "RCPT <a@x>\r\n", syntax, false},
             Case{"StartTls", "STARTTLS\r\n", "502 5.5.1 Pelorus does not offer STARTTLS to the mail client.\r\n",
                  false},
             Case{"Burl", "BURL imap://x LAST\r\n",
                  "502 5.5.1 Pelorus does not accept BURL: please send the mail with DATA.\r\n", false},
             Case{"BareLfCommandRelayedAsReceived", "NOOP\n", "250 2.0.0 Ok\r\n", true},
             Case{"LowerCaseVerb", "noop\r\n", "250 2.0.0 Ok\r\n", true},
             Case{"SpacesAroundColon", "MAIL FROM : <a@x>\r\n", "250 2.0.0 Ok\r\n", true},
             Case{"Utf8Address", "MAIL FROM:<j\xc3\xb6rg@x> SMTPUTF8\r\n", "250 2.0.0 Ok\r\n", true},
             Case{"Help", "HELP\r\n", "250 2.0.0 Ok\r\n", true},
         }) {
        FakeSmtpServer server;
        ProxyRunner proxy(server.port());
        auto c = client(proxy);
        c->send(k.line);
        EXPECT_EQ(c->readReply(), k.reply) << k.name;
        c->send("NOOP\r\n");
        EXPECT_EQ(c->readReply(), "250 2.0.0 Ok\r\n") << k.name << ": the session goes on";
        EXPECT_EQ(server.received(), (k.relayed ? k.line : "") + "NOOP\r\n") << k.name;
    }
}

// A MAIL or RCPT the server would read but the proxy refused cannot change
// what the user is asked about, and a recipient the server accepted
// without a MAIL before it is held all the same.
TEST_F(Conversation, RecipientsTheServerHoldsAreAlwaysShown)
{
    struct Case {
        const char* name;
        std::string commands;
        int replies;
    };
    for (const Case& k : {
             Case{"SpaceMail", "MAIL FROM:<a@corp.example>\r\nRCPT TO:<eve@evil.example>\r\n"
                               " MAIL FROM:<a@corp.example>\r\nRCPT TO:<bob@corp.example>\r\nDATA\r\n",
                  5},
             Case{"DataWithoutMail", "RCPT TO:<eve@evil.example>\r\nRCPT TO:<bob@corp.example>\r\nDATA\r\n", 3},
         }) {
        FakeSmtpServer server;
        ProxyRunner proxy(server.port(), 2);
        proxy.writeList("TrustedRecipient.plx", {"bob@corp.example"});
        auto c = client(proxy);
        c->send(k.commands);
        for (int i = 0; i < k.replies; ++i)
            c->readReply();
        c->send("Subject: s\r\nTo: bob@corp.example\r\n\r\nx\r\n.\r\n");
        EXPECT_EQ(c->readReply(), "450 Pelorus action has been cancelled.\r\n") << k.name;
        ASSERT_EQ(proxy.presenter().shown().size(), 1u) << k.name;
        EXPECT_EQ(proxy.presenter().shown()[0].bcc, "<eve@evil.example>,") << k.name;
        EXPECT_TRUE(server.mails().empty()) << k.name;
    }
}

// DATA needs a mail with a recipient the server accepted; the proxy's 354
// would otherwise take a mail that can go to nobody.
TEST_F(Conversation, DataWithoutValidRecipientsIsRefused)
{
    FakeSmtpServer::Behaviour b;
    b.replies["RCPT"] = "550 5.1.1 unknown\r\n";
    FakeSmtpServer server(b);
    ProxyRunner proxy(server.port(), 1);
    for (const std::string& envelope : {std::string(), std::string("MAIL FROM:<a@corp.example>\r\nRCPT TO:<x@y>\r\n")}) {
        auto c = client(proxy);
        c->send(envelope + "DATA\r\n");
        if (!envelope.empty()) {
            EXPECT_EQ(c->readReply().substr(0, 4), "250 ");
            EXPECT_EQ(c->readReply(), "550 5.1.1 unknown\r\n");
        }
        EXPECT_EQ(c->readReply(), "554 5.5.1 Pelorus: no valid recipients.\r\n") << envelope;
        c->send("NOOP\r\n");
        EXPECT_EQ(c->readReply(), "250 2.0.0 Ok\r\n") << "the session goes on";
    }
    EXPECT_EQ(server.received().find("DATA"), std::string::npos);
    EXPECT_TRUE(proxy.presenter().shown().empty());
}

TEST_F(Conversation, TooManyRefusedLinesEndTheSession)
{
    FakeSmtpServer server;
    ProxyRunner proxy(server.port());
    auto c = client(proxy);
    for (int i = 0; i < 19; ++i) {
        c->send(i % 2 == 0 ? "XCLIENT ADDR=192.0.2.1\r\n" : " RCPT TO:<x@y>\r\n");
        EXPECT_EQ(c->readReply().substr(0, 4), i % 2 == 0 ? "502 " : "500 ") << i;
    }
    c->send("NOOP\r\n");
    EXPECT_EQ(c->readReply(), "250 2.0.0 Ok\r\n") << "nineteen refusals are not yet too many";
    c->send("ETRN x\r\n");
    EXPECT_EQ(c->readReply(), "502 5.5.1 Pelorus does not relay this command.\r\n");
    EXPECT_EQ(c->readReply(), "421 4.7.0 Pelorus closes the connection: too many unrecognized commands.\r\n");
    EXPECT_TRUE(c->waitClosed());
    EXPECT_EQ(server.received(), "NOOP\r\n");
}

// After a refused mail the proxy resets the server; a server that refuses
// the reset may still hold the recipients, so it gets nothing more.
TEST_F(Conversation, RefusedResetClosesTheServerConnection)
{
    FakeSmtpServer::Behaviour b;
    b.replies["RSET"] = "502 5.5.1 not now\r\n";
    FakeSmtpServer server(b);
    ProxyRunner proxy(server.port(), 1);
    auto c = client(proxy);
    envelope(*c, {"<eve@evil.example>"});
    c->send("Subject: s\r\n\r\nbare\nline\r\n.\r\n");
    EXPECT_EQ(c->readReply().substr(0, 4), "554 ");
    c->send("MAIL FROM:<a@corp.example>\r\nRCPT TO:<bob@corp.example>\r\n");
    EXPECT_EQ(c->readReply(), "421 4.4.2 Pelorus lost the connection to the SMTP server.\r\n");
    EXPECT_TRUE(c->waitClosed());
    EXPECT_TRUE(server.received().ends_with("RSET\r\n")) << server.received();
    EXPECT_TRUE(server.mails().empty());
}

TEST_F(Conversation, BdatIsRefusedAndItsOctetsDiscarded)
{
    FakeSmtpServer server;
    ProxyRunner proxy(server.port());
    auto c = client(proxy);
    c->send("BDAT 15 LAST\r\nRCPT TO:<x@y>\r\nNOOP\r\n");
    EXPECT_EQ(c->readReply(), "502 5.5.1 Pelorus does not accept BDAT: please send the mail with DATA.\r\n");
    EXPECT_EQ(c->readReply(), "250 2.0.0 Ok\r\n");
    EXPECT_EQ(server.received(), "NOOP\r\n");
}

TEST_F(Conversation, LineTooLongEndsTheSession)
{
    FakeSmtpServer server;
    ProxyRunner proxy(server.port());
    auto c = client(proxy);
    c->send("NOOP " + std::string(70000, 'a'));
    EXPECT_EQ(c->readReply(), "500 5.5.2 Line too long\r\n");
    EXPECT_TRUE(c->waitClosed());
}

TEST_F(Conversation, RefusedMailKeepsTheRecipientsTheServerHolds)
{
    FakeSmtpServer::Behaviour b;
    b.replies["MAIL#2"] = "503 5.5.1 nested MAIL command\r\n";
    FakeSmtpServer server(b);
    ProxyRunner proxy(server.port(), 1);
    auto c = client(proxy);
    c->send("MAIL FROM:<a@corp.example>\r\n");
    EXPECT_EQ(c->readReply().substr(0, 3), "250");
    c->send("RCPT TO:<first@corp.example>\r\n");
    EXPECT_EQ(c->readReply().substr(0, 3), "250");
    // A second MAIL refused by the server: the first recipient stays.
    c->send("MAIL FROM:<again@corp.example>\r\n");
    EXPECT_EQ(c->readReply(), "503 5.5.1 nested MAIL command\r\n");
    c->send("DATA\r\n");
    EXPECT_EQ(c->readReply().substr(0, 3), "354");
    c->send("Subject: keep\r\n\r\nx\r\n.\r\n");
    EXPECT_EQ(c->readReply().substr(0, 3), "250");
    ASSERT_EQ(proxy.presenter().shown().size(), 1u);
    EXPECT_EQ(proxy.presenter().shown()[0].bcc, "<first@corp.example>,");
}

TEST_F(Conversation, AcceptedRsetForgetsTheRecipients)
{
    FakeSmtpServer server;
    ProxyRunner proxy(server.port(), 1);
    auto c = client(proxy);
    c->send("MAIL FROM:<a@corp.example>\r\nRCPT TO:<gone@evil.example>\r\nRSET\r\n"
            "MAIL FROM:<a@corp.example>\r\nRCPT TO:<kept@evil.example>\r\nDATA\r\n");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(c->readReply().substr(0, 3), "250") << i;
    EXPECT_EQ(c->readReply().substr(0, 3), "354");
    c->send(Body + ".\r\n");
    EXPECT_EQ(c->readReply().substr(0, 3), "250");
    ASSERT_EQ(proxy.presenter().shown().size(), 1u);
    EXPECT_EQ(proxy.presenter().shown()[0].bcc, "<kept@evil.example>,");
}

TEST_F(Conversation, AMailThatCannotBeStoredIsRefusedWhole)
{
    FakeSmtpServer server;
    ProxyRunner proxy(server.port(), 1);
    // Something that is not a folder stands where the spool folder goes.
    std::filesystem::create_directories(proxy.home() / "tmp");
    writeFile(proxy.spoolFolder(), "not a folder");
    auto c = client(proxy);
    envelope(*c);
    c->send(Body + ".\r\n");
    EXPECT_EQ(c->readReply(), "451 4.3.0 Pelorus could not store this mail.\r\n");
    EXPECT_TRUE(server.mails().empty());
    EXPECT_EQ(server.received().find("DATA"), std::string::npos);
    EXPECT_TRUE(proxy.notices().hasBalloonContaining("could not store"));
}

TEST_F(Conversation, RefusedRecipientIsNotTakenIn)
{
    FakeSmtpServer::Behaviour b;
    b.replies["RCPT#2"] = "550 5.1.1 unknown\r\n";
    FakeSmtpServer server(b);
    ProxyRunner proxy(server.port(), 1);
    proxy.writeList("TrustedRecipient.plx", {"bob@corp.example"});
    auto c = client(proxy);
    c->send("MAIL FROM:<a@corp.example>\r\nRCPT TO:<bob@corp.example>\r\nRCPT TO:<nobody@else.example>\r\n");
    EXPECT_EQ(c->readReply().substr(0, 3), "250");
    EXPECT_EQ(c->readReply().substr(0, 3), "250");
    EXPECT_EQ(c->readReply(), "550 5.1.1 unknown\r\n");
    c->send("DATA\r\n");
    EXPECT_EQ(c->readReply().substr(0, 3), "354");
    c->send(Body + ".\r\n");
    EXPECT_EQ(c->readReply().substr(0, 3), "250");
    EXPECT_TRUE(proxy.presenter().shown().empty()) << "only the trusted recipient will receive it";
}

TEST_F(Conversation, AuthResponseIsRelayedNotReadAsACommand)
{
    FakeSmtpServer::Behaviour b;
    b.replies["AUTH"] = "334 VXNlcm5hbWU6\r\n";
    b.replies["DATA"] = "235 2.7.0 accepted\r\n";  // what the server makes of the response line
    FakeSmtpServer server(b);
    ProxyRunner proxy(server.port());
    auto c = client(proxy);
    c->send("AUTH LOGIN\r\n");
    EXPECT_EQ(c->readReply(), "334 VXNlcm5hbWU6\r\n");
    c->send("DATA\r\n");
    EXPECT_EQ(c->readReply(), "235 2.7.0 accepted\r\n") << "relayed to the server, not answered with 354";
}

TEST_F(Conversation, CancelledMailNeverReachesTheServer)
{
    FakeSmtpServer server;
    ProxyRunner proxy(server.port(), 2);
    auto c = client(proxy);
    envelope(*c);
    c->send(Body + ".\r\n");
    EXPECT_EQ(c->readReply(), "450 Pelorus action has been cancelled.\r\n");
    EXPECT_EQ(c->readReply(), "221 2.0.0 Bye\r\n");
    EXPECT_TRUE(c->waitClosed());
    EXPECT_TRUE(server.mails().empty());
    EXPECT_EQ(server.received().find("DATA"), std::string::npos);
    EXPECT_NE(server.received().find("RSET\r\nQUIT\r\n"), std::string::npos);
    EXPECT_TRUE(proxy.notices().hasBalloonContaining("Cancelled a mail:\r\n'split'"));
}

TEST_F(Conversation, TrustedRecipientsPassWithoutAQuestion)
{
    FakeSmtpServer server;
    ProxyRunner proxy(server.port(), 2);
    proxy.writeList("TrustedRecipient.plx", {"bob@corp.example"});
    auto c = client(proxy);
    envelope(*c);
    c->send(Body + ".\r\n");
    EXPECT_EQ(c->readReply().substr(0, 3), "250");
    EXPECT_TRUE(proxy.presenter().shown().empty());
    EXPECT_EQ(server.mails().size(), 1u);
}

TEST_F(Conversation, HiddenRecipientsAreFoundByAddressNotBySubstring)
{
    FakeSmtpServer server;
    ProxyRunner proxy(server.port(), 1);
    proxy.writeList("TrustedDomain.pel", {"corp.com"});
    auto c = client(proxy);
    c->send("MAIL FROM:<a@corp.com>\r\n");
    c->readReply();
    for (const char* rcpt : {"<ANN@corp.com>", "<n@corp.com>", "<x@evil.com> ORCPT=rfc822;x@corp.com"}) {
        c->send(std::string("RCPT TO:") + rcpt + "\r\n");
        c->readReply();
    }
    c->send("DATA\r\n");
    c->readReply();
    c->send("To: ann@corp.com, \"Boss corp.com\" <boss@evil.com>\r\nSubject: s\r\n\r\nx\r\n.\r\n");
    EXPECT_EQ(c->readReply().substr(0, 3), "250");
    ASSERT_EQ(proxy.presenter().shown().size(), 1u);
    const Presented shown = proxy.presenter().shown()[0];
    EXPECT_EQ(shown.bcc, "<n@corp.com>,<x@evil.com> ORCPT=rfc822;x@corp.com,");
    ASSERT_EQ(shown.toRows.size(), 2u);
    EXPECT_FALSE(shown.toRows[0].flagged);
    EXPECT_TRUE(shown.toRows[1].flagged) << "a display name cannot make a recipient authorized";
    ASSERT_EQ(shown.bccRows.size(), 2u);
    EXPECT_TRUE(shown.bccRows[1].flagged) << "an ESMTP parameter cannot make a recipient authorized";
}

TEST_F(Conversation, ASessionToItselfIsRefused)
{
    std::uint16_t proxyPort = 0;
    {
        FakeSmtpServer server;
        ProxyRunner proxy(server.port());
        proxyPort = proxy.port();
        MAIL::ProxyConfiguration().setPort(proxyPort);  // the server is the proxy itself
        auto c = connectTo(proxy.port());
        EXPECT_TRUE(c->waitClosed());
        ASSERT_TRUE(proxy.waitIdle());
        EXPECT_TRUE(proxy.notices().hasBalloonContaining(MAIL::relayErrorText(MAIL::ERR_SERVER_CONNECT)));
        EXPECT_EQ(server.connections(), 0);
    }
}

TEST_F(Conversation, SpoolFilesAreGoneWhateverWayTheSessionEnded)
{
    FakeSmtpServer server;
    ProxyRunner proxy(server.port(), 2);
    {
        auto c = client(proxy);
        envelope(*c);
        c->send("Subject: half a mail\r\n\r\nand the client leaves");
        pause();
    }
    {
        auto c = client(proxy);
        envelope(*c);
        c->send(Body + ".\r\n");
        EXPECT_EQ(c->readReply().substr(0, 3), "450");
    }
    ASSERT_TRUE(proxy.waitIdle());
    EXPECT_TRUE(listFolder(proxy.spoolFolder()).empty());
}

// With a server that offers PIPELINING the envelope goes in one write and
// the replies come back in the order of the commands, however they are
// cut, a refused recipient in the middle included; without it, strictly one
// command after the other. The client sees the same either way.
TEST_F(Conversation, PipelinedEnvelopeKeepsTheOrderOfReplies)
{
    for (const bool offered : {true, false}) {
        FakeSmtpServer::Behaviour b;
        b.replies["RCPT#2"] = "550 5.1.1 unknown\r\n";
        b.replyPieceBytes = 3;
        b.replyDelayMilliseconds = 20;
        if (!offered)
            b.ehloPieces = {"250-fake.example\r\n250 HELP\r\n"};
        FakeSmtpServer server(b);
        ProxyRunner proxy(server.port(), 1);
        auto c = ehloClient(proxy);
        c->send("MAIL FROM:<a@corp.example>\r\nRCPT TO:<one@x.example>\r\nRCPT TO:<two@x.example>\r\n"
                "RCPT TO:<three@x.example>\r\nNOOP\r\nDATA\r\n");
        for (const char* expected : {"250 2.0.0 Ok\r\n", "250 2.0.0 Ok\r\n", "550 5.1.1 unknown\r\n",
                                     "250 2.0.0 Ok\r\n", "250 2.0.0 Ok\r\n",
                                     "354 Ok Send data ending with <CRLF>.<CRLF>\r\n"})
            EXPECT_EQ(c->readReply(), expected) << offered;
        c->send(Body + ".\r\n");
        EXPECT_EQ(c->readReply().substr(0, 4), "250 ") << offered;
        ASSERT_EQ(proxy.presenter().shown().size(), 1u) << offered;
        EXPECT_EQ(proxy.presenter().shown()[0].bcc, "<one@x.example>,<three@x.example>,") << offered;
        const std::vector<int> bursts = server.bursts();
        ASSERT_GE(bursts.size(), 2u);
        EXPECT_EQ(bursts[1], offered ? 5 : 1) << "MAIL, three RCPT and the NOOP in one write when offered";
        EXPECT_EQ(*std::max_element(bursts.begin(), bursts.end()), offered ? 5 : 1);
    }
}

TEST_F(Conversation, ServerClosingInTheMiddleOfAGroup)
{
    FakeSmtpServer::Behaviour b;
    b.replies["RCPT#2"] = "CLOSE";
    FakeSmtpServer server(b);
    ProxyRunner proxy(server.port(), 1);
    auto c = ehloClient(proxy);
    c->send("MAIL FROM:<a@corp.example>\r\nRCPT TO:<one@x.example>\r\nRCPT TO:<two@x.example>\r\n"
            "RCPT TO:<three@x.example>\r\nRCPT TO:<four@x.example>\r\nDATA\r\n");
    EXPECT_EQ(c->readReply(), "250 2.0.0 Ok\r\n");
    EXPECT_EQ(c->readReply(), "250 2.0.0 Ok\r\n");
    EXPECT_EQ(c->readReply(), "421 4.4.2 Pelorus lost the connection to the SMTP server.\r\n");
    std::string rest;
    EXPECT_TRUE(c->waitClosed(10000, &rest));
    EXPECT_EQ(rest, "") << "no reply for a command the server never answered";
    EXPECT_TRUE(proxy.presenter().shown().empty());
    EXPECT_TRUE(server.mails().empty());
}

TEST_F(Conversation, PipelinedGroupsHoldAtMostAHundredCommands)
{
    FakeSmtpServer server;
    ProxyRunner proxy(server.port(), 1);
    auto c = ehloClient(proxy);
    std::string envelope = "MAIL FROM:<a@corp.example>\r\n";
    for (int i = 0; i < 150; ++i)
        envelope += "RCPT TO:<r" + std::to_string(i) + "@x.example>\r\n";
    c->send(envelope + "DATA\r\n");
    for (int i = 0; i < 151; ++i)
        ASSERT_EQ(c->readReply(), "250 2.0.0 Ok\r\n") << i;
    EXPECT_EQ(c->readReply().substr(0, 4), "354 ");
    EXPECT_EQ(server.bursts(), (std::vector<int>{1, 100, 51}));
    c->send(Body + ".\r\n");
    EXPECT_EQ(c->readReply().substr(0, 4), "250 ");
    ASSERT_EQ(server.mails().size(), 1u);
}

// Two warnings that ask nothing by themselves, but are said when a question
// is asked: several outside organisations, and more recipients than the
// user's limit (0: never).
TEST_F(Conversation, OutsideDomainsAndManyRecipientsAreWarnedOf)
{
    const std::string domains = "Warning: this mail goes to 2 outside domains: x.example, y.example\r\n";
    for (const int limit : {0, 4, 3}) {
        FakeSmtpServer server;
        ProxyRunner proxy(server.port(), 2);
        proxy.writeList("TrustedDomain.pel", {"corp.example"});
        MAIL::ProxyConfiguration().setMaxRecipients(limit);
        auto c = client(proxy);
        envelope(*c, {"<a@x.example>", "<b@X.EXAMPLE>", "<c@y.example>", "<d@corp.example>"});
        c->send(Body + ".\r\n");
        EXPECT_EQ(c->readReply().substr(0, 4), "450 ") << limit;
        ASSERT_EQ(proxy.presenter().shown().size(), 1u) << limit;
        const std::string message = proxy.presenter().shown()[0].message;
        const std::size_t warned = message.find(domains);
        EXPECT_NE(warned, std::string::npos) << message;
        EXPECT_LT(warned, message.find("Please confirm recipients.")) << "before the verdict";
        EXPECT_EQ(message.find("Warning: this mail has 4 recipients.\r\n") != std::string::npos, limit == 3)
            << limit << ": more than the limit only";
    }
}
