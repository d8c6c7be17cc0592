// The connection test judged against scripted servers: what a working
// server says in several pieces or lines passes, a refusing greeting or a
// wrong answer to QUIT fails; against real TLS servers (aiosmtpd, with
// certificates made here by the openssl command) in each Security mode;
// and the network check made before a test.
#include "relay/RelayError.h"
#include "relay/RelayTestSupport.h"
#include "relay/ServerSecurity.h"
#include "shell/ConnectionTest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <optional>
#include <stdexcept>

#include <arpa/inet.h>
#include <net/if.h>

using MAIL::ConnectionTest;
using pelorus::test::Connection;
using pelorus::test::ScriptedServer;

namespace {

struct Exchange {
    const char* name;
    std::vector<std::string> greeting;  // sent as separate pieces
    std::vector<std::string> hello;     // the answer to EHLO, in pieces
    std::string quit;                   // the answer to QUIT
    ConnectionTest::Outcome outcome;
};

// A server that answers with the scripted pieces and records what it got.
struct Recorded {
    std::mutex lock;
    std::vector<std::string> lines;
};

void sendPieces(Connection& peer, const std::vector<std::string>& pieces)
{
    for (const std::string& piece : pieces)
        peer.send(piece);
}

void PrintTo(const Exchange& exchange, std::ostream* out) { *out << exchange.name; }

class Exchanges : public testing::TestWithParam<Exchange> {};

TEST_P(Exchanges, AreJudgedAsTheRelayJudgesThem)
{
    const Exchange& exchange = GetParam();
    Recorded recorded;
    ScriptedServer server([&](Connection& peer) {
        sendPieces(peer, exchange.greeting);
        if (exchange.outcome == ConnectionTest::Outcome::BadReply && exchange.hello.empty()) {
            peer.readLine(2000);  // a refused greeting: the test leaves
            return;
        }
        std::string line = peer.readLine();
        {
            std::lock_guard guard(recorded.lock);
            recorded.lines.push_back(line);
        }
        sendPieces(peer, exchange.hello);
        line = peer.readLine();
        {
            std::lock_guard guard(recorded.lock);
            recorded.lines.push_back(line);
        }
        peer.send(exchange.quit);
        if (exchange.quit.ends_with("\n"))
            peer.waitClosed(10000);  // a cut-off answer is followed by the close instead
    });
    const ConnectionTest test("127.0.0.1", server.port());
    const ConnectionTest::Result result = test.run();
    EXPECT_EQ(result.outcome, exchange.outcome);
    if (exchange.outcome == ConnectionTest::Outcome::Passed) {
        std::string greeting;
        for (const std::string& piece : exchange.greeting)
            greeting += piece;
        EXPECT_EQ(result.greeting, greeting);
        EXPECT_EQ(result.quitReply, exchange.quit);
        std::lock_guard guard(recorded.lock);
        EXPECT_EQ(recorded.lines, (std::vector<std::string>{"EHLO localhost\r\n", "QUIT\r\n"}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Server, Exchanges,
    testing::Values(
        Exchange{"OneLineEach", {"220 mx.example ESMTP\r\n"}, {"250 mx.example\r\n"}, "221 Bye\r\n",
                 ConnectionTest::Outcome::Passed},
        Exchange{"MultiLineGreeting",
                 {"220-mx.example ESMTP\r\n220-no spam here\r\n", "220 ready\r\n"},
                 {"250 mx.example\r\n"},
                 "221 2.0.0 Bye\r\n",
                 ConnectionTest::Outcome::Passed},
        Exchange{"SplitHelloReply",
                 {"220 mx.example\r\n"},
                 {"250-mx.example\r\n250-SIZE 1000", "0000\r\n250-8BITMIME\r\n", "250 HELP\r\n"},
                 "221 Bye\r\n",
                 ConnectionTest::Outcome::Passed},
        Exchange{"LowerCaseCodesText", {"220 hi\r\n"}, {"250 ok\r\n"}, "221 bye\r\n", ConnectionTest::Outcome::Passed},
        Exchange{"GreetingRefused", {"421 too busy\r\n"}, {}, "", ConnectionTest::Outcome::BadReply},
        Exchange{"GreetingWithoutCode", {"hello there\r\n"}, {}, "", ConnectionTest::Outcome::BadReply},
        Exchange{"QuitNot221", {"220 hi\r\n"}, {"250 ok\r\n"}, "250 still here\r\n",
                 ConnectionTest::Outcome::BadReply},
        Exchange{"QuitAnswerCutOff", {"220 hi\r\n"}, {"250 ok\r\n"}, "221", ConnectionTest::Outcome::BadReply}),
    [](const testing::TestParamInfo<Exchange>& info) { return std::string(info.param.name); });

TEST(ConnectionTest, AServerThatIsNotThereFailsToConnect)
{
    const std::uint16_t port = pelorus::test::freePort();
    EXPECT_EQ(ConnectionTest("127.0.0.1", port).run().outcome, ConnectionTest::Outcome::NoConnect);
}

TEST(ConnectionTest, AnUnknownNameFailsToResolve)
{
    EXPECT_EQ(ConnectionTest("no-such-host.invalid", 25).run().outcome, ConnectionTest::Outcome::NoAddress);
}

struct SecureCase {
    const char* name;
    const char* certificate;  // the server's
    const char* serverMode;   // how the server speaks; nullptr: plain only
    const char* server;       // the name the test connects to
    MAIL::SecurityMode mode;  // the test's Security
    bool trustCa;
    bool verify;
    int error;  // 0: the test passes
};

void PrintTo(const SecureCase& c, std::ostream* out) { *out << c.name; }

class Secured : public testing::TestWithParam<SecureCase> {
protected:
    static void SetUpTestSuite()
    {
        std::signal(SIGPIPE, SIG_IGN);
        certificates = new pelorus::test::TestCertificates();
    }
    static void TearDownTestSuite()
    {
        delete certificates;
        certificates = nullptr;
    }
    static pelorus::test::TestCertificates* certificates;
};

pelorus::test::TestCertificates* Secured::certificates = nullptr;

TEST_P(Secured, ShowsTheCertificateOrTheReason)
{
    const SecureCase& c = GetParam();
    pelorus::test::SmtpSink sink(c.serverMode ? certificates->serve(c.certificate, c.serverMode)
                                              : std::vector<std::string>{});
    MAIL::ServerSecurity security;
    security.mode = c.mode;
    security.setting = MAIL::securityModeName(c.mode);
    security.caFile = c.trustCa ? certificates->ca() : "";
    security.verify = c.verify;
    // A silent server is judged within this limit; the default is 30 s.
    ConnectionTest::Limits limits;
    limits.stepMilliseconds = 1500;
    const ConnectionTest test(c.server, sink.port(), security, limits);
    const ConnectionTest::Result result = test.run();
    EXPECT_EQ(result.error, c.error) << result.detail;
    if (c.error != 0) {
        EXPECT_EQ(result.outcome, ConnectionTest::Outcome::NotSecured);
        EXPECT_EQ(test.failureText(result),
                  std::string(ConnectionTest::FailedText) + "\r\n\r\n" + MAIL::relayErrorText(c.error));
        EXPECT_EQ(sink.journal().find("tls=1"), std::string::npos) << sink.journal();
        return;
    }
    ASSERT_EQ(result.outcome, ConnectionTest::Outcome::Passed) << result.detail;
    EXPECT_TRUE(result.encrypted);
    EXPECT_EQ(result.quitReply.substr(0, 4), "221 ");
    const std::string text = test.successText(result);
    const std::string certificate = "\r\n\r\nTLS: " + result.peer.protocol + "\r\nSubject: CN=localhost\r\nIssuer: " +
                                    (c.verify ? "CN=Pelorus Test CA" : "CN=localhost");
    const std::string expected = "Connected to the SMTP server '" + std::string(c.server) +
                                 "' (without account authentication).\r\n\r\n" +
                                 result.greeting.substr(0, result.greeting.size() - 2) + "\r\n" +
                                 result.quitReply.substr(0, result.quitReply.size() - 2) + certificate +
                                 (c.verify ? "" : "\r\nCertificate verification is off");
    EXPECT_EQ(text, expected);
    EXPECT_EQ(result.peer.protocol.rfind("TLSv1.", 0), 0u) << result.peer.protocol;
    // The test's own EHLO went over TLS (in "starttls" mode after the
    // upgrade's EHLO in clear).
    const std::string journal = sink.journal();
    EXPECT_TRUE(journal.ends_with("\nEHLO tls=1 localhost\n") || journal == "EHLO tls=1 localhost\n") << journal;
}

using MAIL::SecurityMode;

INSTANTIATE_TEST_SUITE_P(
    Tls, Secured,
    testing::Values(
        SecureCase{"StartTlsPasses", "good", "--starttls", "localhost", SecurityMode::StartTls, true, true, 0},
        SecureCase{"ImplicitTlsPasses", "good", "--tls", "127.0.0.1", SecurityMode::Tls, true, true, 0},
        SecureCase{"VerificationOffSaysSo", "self", "--starttls", "localhost", SecurityMode::StartTls, false, false,
                   0},
        SecureCase{"UntrustedCertificate", "good", "--tls", "localhost", SecurityMode::Tls, false, true,
                   MAIL::ERR_TLS_UNTRUSTED},
        SecureCase{"StartTlsAgainstImplicitTlsEndsInTime", "good", "--tls", "localhost", SecurityMode::StartTls, true,
                   true, MAIL::ERR_TLS_NO_ANSWER},
        SecureCase{"StartTlsNotOffered", "good", nullptr, "127.0.0.1", SecurityMode::StartTls, true, true,
                   MAIL::ERR_TLS_NOT_OFFERED}),
    [](const testing::TestParamInfo<SecureCase>& info) { return std::string(info.param.name); });

TEST(ConnectionTest, AnUnknownSecurityValueIsNeverTriedInClear)
{
    MAIL::ServerSecurity security;
    security.mode = MAIL::parseSecurityMode("ssl");
    security.setting = "ssl";
    std::atomic<bool> reached{false};
    ScriptedServer server([&](Connection&) { reached = true; });
    const ConnectionTest test("127.0.0.1", server.port(), security);
    const ConnectionTest::Result result = test.run();
    EXPECT_EQ(result.outcome, ConnectionTest::Outcome::NotSecured);
    EXPECT_EQ(test.failureText(result), std::string(ConnectionTest::FailedText) + "\r\n\r\n" +
                                            MAIL::relayErrorText(MAIL::ERR_TLS_SECURITY_SETTING));
    EXPECT_FALSE(reached);
}

struct ReachCase {
    const char* name;
    const char* server;
    std::vector<MAIL::InterfaceRecord> records;
    bool failedQuery;
    bool allowed;
};

MAIL::InterfaceRecord record(const char* name, unsigned flags, const char* address)
{
    MAIL::InterfaceRecord r;
    r.name = name;
    r.flags = flags;
    ::inet_pton(AF_INET, address, &r.address);
    return r;
}

void PrintTo(const ReachCase& c, std::ostream* out) { *out << c.name; }

const unsigned Up = IFF_UP | IFF_RUNNING;

class Reach : public testing::TestWithParam<ReachCase> {};

TEST_P(Reach, RefusesOnlyWithoutANetworkForARemoteServer)
{
    const ReachCase& c = GetParam();
    MAIL::NetworkInterfaces interfaces([&]() -> std::optional<std::vector<MAIL::InterfaceRecord>> {
        if (c.failedQuery)
            return std::nullopt;
        return c.records;
    });
    EXPECT_EQ(ConnectionTest::canReachNetwork(c.server, interfaces), c.allowed);
}

INSTANTIATE_TEST_SUITE_P(
    Interfaces, Reach,
    testing::Values(
        ReachCase{"HomeNetworkAddressCounts", "smtp.example.com", {record("eth0", Up, "192.168.1.20")}, false, true},
        ReachCase{"OnlyLoopbackInterface", "smtp.example.com", {record("lo", Up | IFF_LOOPBACK, "127.0.0.1")}, false,
                  false},
        ReachCase{"InterfaceDown", "smtp.example.com", {record("eth0", IFF_UP, "10.0.0.5")}, false, false},
        ReachCase{"LoopbackServerNeedsNoNetwork", "127.0.0.1", {}, false, true},
        ReachCase{"LocalhostNeedsNoNetwork", " LocalHost ", {}, true, true},
        ReachCase{"FailedQueryIsNoNetwork", "smtp.example.com", {}, true, false}),
    [](const testing::TestParamInfo<ReachCase>& info) { return std::string(info.param.name); });

} // namespace
