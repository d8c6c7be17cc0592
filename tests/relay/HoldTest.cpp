// The hold after the decision, and the NOOPs that keep a waiting server
// connection alive: against the scripted server, which records every
// command, and can fall silent on NOOP as a real server will not on demand.
#include "FakeSmtpServer.h"
#include "RelayTestSupport.h"

#include "config/ProxyConfiguration.h"
#include "relay/HeldMails.h"
#include "relay/ServerKeepAlive.h"

#include <gtest/gtest.h>

#include <csignal>

using namespace pelorus::test;

namespace {

// Every hold that began, by subject, while it lives.
class HoldWatch {
public:
    HoldWatch()
    {
        MAIL::HeldMails::instance().setWatcher([this](MAIL::HoldEvent event, const MAIL::HeldMail& mail) {
            std::lock_guard guard(lock_);
            if (event == MAIL::HoldEvent::Began)
                began_.push_back(mail);
        });
    }
    ~HoldWatch() { MAIL::HeldMails::instance().setWatcher({}); }
    // The number of the held mail with that subject, once its hold began (0
    // when none did within 10 seconds).
    int number(const std::string& subject)
    {
        for (int wait = 0; wait < 1000; ::usleep(10000), ++wait) {
            std::lock_guard guard(lock_);
            for (const MAIL::HeldMail& mail : began_)
                if (mail.subject == subject)
                    return mail.number;
        }
        return 0;
    }
    std::size_t began()
    {
        std::lock_guard guard(lock_);
        return began_.size();
    }

private:
    std::mutex lock_;
    std::vector<MAIL::HeldMail> began_;
};

// The scripted server behind a proxy that trusts bob and asks about anyone else.
struct TrustingBob {
    TrustingBob() { proxy.writeList("TrustedRecipient.plx", {"bob@corp.example"}); }
    FakeSmtpServer server;
    ProxyRunner proxy{server.port(), 1};
};

class Hold : public testing::Test {
protected:
    static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }

    // A client that has sent a mail to rcpt with this subject, up to its end mark.
    static std::unique_ptr<Connection> sendMail(std::uint16_t port, const std::string& subject,
                                                const std::string& rcpt = "bob@corp.example")
    {
        auto c = connectTo(port);
        EXPECT_EQ(c->readReply().substr(0, 3), "220");
        c->send("MAIL FROM:<alice@corp.example>\r\n");
        EXPECT_EQ(c->readReply().substr(0, 3), "250");
        c->send("RCPT TO:<" + rcpt + ">\r\n");
        EXPECT_EQ(c->readReply().substr(0, 3), "250");
        c->send("DATA\r\n");
        EXPECT_EQ(c->readReply().substr(0, 3), "354");
        c->send("Subject: " + subject + "\r\nTo: " + rcpt + "\r\n\r\nhello\r\n.\r\n");
        return c;
    }

    static void holdFor(int seconds, bool holdTrusted = true)
    {
        MAIL::ProxyConfiguration settings;
        ASSERT_TRUE(settings.setSendDelay(seconds));
        ASSERT_TRUE(settings.setHoldTrusted(holdTrusted));
    }

    HoldWatch watch_;
};

} // namespace

TEST_F(Hold, AMailIsHeldOnlyWhenTheSettingsSaySoAndGoesWhenItsHoldEnds)
{
    struct Case {
        const char* name;
        int delay;
        bool holdTrusted;
        const char* rcpt;  // bob is trusted, eve is asked about
        bool held;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"confirmed", 1, false, "eve@evil.example", true},
             {"trusted, HoldTrusted on", 1, true, "bob@corp.example", true},
             {"trusted, HoldTrusted off", 1, false, "bob@corp.example", false},
             {"no delay", 0, true, "eve@evil.example", false},
         }) {
        TrustingBob setUp;
        auto& [server, proxy] = setUp;
        holdFor(c.delay, c.holdTrusted);
        const std::size_t before = watch_.began();
        auto client = sendMail(proxy.port(), c.name, c.rcpt);
        EXPECT_EQ(client->readReply(5000).substr(0, 3), "250") << c.name;
        EXPECT_EQ(watch_.began() - before, c.held ? 1u : 0u) << c.name;
        EXPECT_EQ(server.mails().size(), 1u) << c.name;
        client->send("QUIT\r\n");
        client->readReply();
        ASSERT_TRUE(proxy.waitIdle());
        EXPECT_NE(readFile(proxy.decisionFile()).find(c.held ? "\"hold_seconds\":1" : "\"hold_seconds\":0"),
                  std::string::npos)
            << c.name;
    }
}

TEST_F(Hold, EachHeldMailIsUndoneOnItsOwn)
{
    TrustingBob setUp;
    auto& [server, proxy] = setUp;
    holdFor(30);
    auto one = sendMail(proxy.port(), "one");
    const int oneNumber = watch_.number("one");
    auto two = sendMail(proxy.port(), "two");
    const int twoNumber = watch_.number("two");
    ASSERT_NE(oneNumber, 0);
    ASSERT_NE(twoNumber, 0);
    EXPECT_FALSE(MAIL::HeldMails::instance().undo(twoNumber + 1)) << "no such mail";

    ASSERT_TRUE(MAIL::HeldMails::instance().undo(oneNumber));
    EXPECT_EQ(one->readReply(), "450 Pelorus action has been cancelled.\r\n");
    EXPECT_TRUE(proxy.notices().hasBalloonContaining("Sending was undone:\r\n'one'"));
    ASSERT_EQ(MAIL::HeldMails::instance().list().size(), 1u);
    EXPECT_EQ(MAIL::HeldMails::instance().list()[0].subject, "two") << "the other mail is still held";

    ASSERT_TRUE(MAIL::HeldMails::instance().undo(twoNumber));
    EXPECT_EQ(two->readReply(), "450 Pelorus action has been cancelled.\r\n");
    ASSERT_TRUE(proxy.waitIdle());
    EXPECT_EQ(server.received().find("DATA"), std::string::npos);
    EXPECT_EQ(server.connections(), 2);
    const std::string record = readFile(proxy.decisionFile());
    EXPECT_NE(record.find("\"decision\":\"undone\""), std::string::npos) << record;
}

TEST_F(Hold, AClientThatHangsUpCancelsItsHeldMail)
{
    TrustingBob setUp;
    auto& [server, proxy] = setUp;
    holdFor(30);
    auto client = sendMail(proxy.port(), "left");
    ASSERT_NE(watch_.number("left"), 0);
    client.reset();  // hangs up
    ASSERT_TRUE(proxy.waitIdle(10000)) << "the hold ends at the hang-up, not after 30 s";
    EXPECT_TRUE(MAIL::HeldMails::instance().list().empty());
    EXPECT_EQ(server.received().find("DATA"), std::string::npos);
    EXPECT_NE(server.received().find("RSET\r\n"), std::string::npos);
    EXPECT_TRUE(proxy.notices().hasBalloonContaining("Cancelled a mail:\r\n'left'"));
}

// The user takes longer than the keep-alive interval to answer: the server
// hears NOOP meanwhile; one that does not answer it counts as lost.
TEST_F(Hold, AWaitingServerConnectionIsKeptAliveAndALostOneSendsNothing)
{
    struct Restore {
        ~Restore() { MAIL::ServerKeepAlive::setInterval(std::chrono::seconds(30)); }
    } restore;
    MAIL::ServerKeepAlive::setInterval(std::chrono::milliseconds(300));
    for (const bool answers : {true, false}) {
        FakeSmtpServer::Behaviour silent;
        if (!answers)
            silent.replies["NOOP"] = "";  // read, never answered
        FakeSmtpServer server(silent);
        ProxyRunner proxy(server.port(), 1);
        proxy.presenter().setDelay(1500);
        auto client = sendMail(proxy.port(), "slow", "eve@evil.example");
        if (answers) {
            EXPECT_EQ(client->readReply(10000).substr(0, 3), "250");
            EXPECT_EQ(server.mails().size(), 1u);
            client->send("QUIT\r\n");
            client->readReply();
        } else {
            EXPECT_EQ(client->readReply(10000), "451 4.4.2 Pelorus lost the connection to the SMTP server.\r\n");
            EXPECT_TRUE(client->waitClosed());
            EXPECT_EQ(server.received().find("DATA"), std::string::npos);
        }
        EXPECT_NE(server.received().find("NOOP\r\n"), std::string::npos) << answers;
        ASSERT_TRUE(proxy.waitIdle());
    }
}

TEST(HeldMailsAtTheEnd, AHoldBegunAfterTheEndIsUndoneUnannounced)
{
    HoldWatch watch;
    MAIL::HeldMails::instance().undoAll();
    MAIL::CancelToken token;
    const int number = MAIL::HeldMails::instance().hold("late", 10, token);
    EXPECT_TRUE(token.isCancelled());
    EXPECT_EQ(token.reason(), MAIL::ConfirmationEnd::ShutDown);
    MAIL::HeldMails::instance().release(number);
    EXPECT_EQ(watch.began(), 0u) << "no undo is offered for it";
    MAIL::reopenConfirmations();
}
