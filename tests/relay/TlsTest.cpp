// The encrypted connection to the SMTP server, against real TLS servers
// (aiosmtpd with STARTTLS or implicit TLS, certificates made here by the
// openssl command) and scripted ones for what a real server will not do.
// The mail client always talks plain SMTP to the proxy.
#include "RelayTestSupport.h"

#include "config/ProxyConfiguration.h"
#include "relay/RelayError.h"
#include "relay/SecureConnection.h"
#include "relay/ServerSecurity.h"
#include "relay/TlsTransport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <mutex>
#include <optional>

using namespace pelorus::test;
using namespace MAIL;

namespace {

// As the server stores it; the client sends the dot doubled.
const std::string Message = "From: Alice <alice@corp.example>\r\n"
                            "To: Bob <bob@corp.example>\r\n"
                            "Subject: over TLS\r\n"
                            "\r\n"
                            ".a line that starts with a dot\r\n"
                            "\xc3\xa9t\xc3\xa9 in UTF-8, and a long line " + std::string(900, 'x') + "\r\n";

// The message as the client sends it: its one line that starts with a dot
// gets another.
std::string stuffed()
{
    const std::size_t dot = Message.find("\r\n.") + 2;
    return Message.substr(0, dot) + "." + Message.substr(dot);
}

class TlsRelay : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::signal(SIGPIPE, SIG_IGN);
        certificates = new TestCertificates();
    }
    static void TearDownTestSuite()
    {
        delete certificates;
        certificates = nullptr;
    }
    void TearDown() override { setSecurityStepMilliseconds(0); }

    // Stores the server and security settings the next session reads.
    static void configure(const std::string& server, const char* security, std::optional<std::string> caFile,
                          bool verify = true)
    {
        ProxyConfiguration settings;
        settings.setServer(server);
        settings.setString(ProxyConfiguration::SettingKey, SecuritySetting, security);
        if (caFile)
            storeCAFile(settings, *caFile);
        storeVerifyServer(settings, verify);
    }

    // A whole mail from a plain client, QUIT included; the proxy confirms.
    static void sendMail(std::uint16_t port, const std::string& helo = "EHLO client.example\r\n")
    {
        auto c = connectTo(port);
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(c->readReply().substr(0, 4), "220 ");
        ASSERT_TRUE(c->send(helo));
        ASSERT_EQ(c->readReply().substr(0, 3), "250");
        for (const char* line : {"MAIL FROM:<alice@corp.example>\r\n", "RCPT TO:<bob@corp.example>\r\n"}) {
            ASSERT_TRUE(c->send(line));
            ASSERT_EQ(c->readReply().substr(0, 3), "250") << line;
        }
        ASSERT_TRUE(c->send("DATA\r\n"));
        ASSERT_EQ(c->readReply().substr(0, 3), "354");
        ASSERT_TRUE(c->send(stuffed() + ".\r\n"));
        ASSERT_EQ(c->readReply().substr(0, 3), "250");
        ASSERT_TRUE(c->send("QUIT\r\n"));
        EXPECT_EQ(c->readReply().substr(0, 3), "221");
    }

    static TestCertificates* certificates;
};

TestCertificates* TlsRelay::certificates = nullptr;

// What a client that cannot be served sees: the 421 in place of the
// greeting ("tls", or a server that never greets), or the greeting and then
// the 421 as the reply to its first command ("starttls").
std::string firstRefusal(std::uint16_t port, const std::string& firstCommand)
{
    auto c = connectTo(port);
    if (c == nullptr)
        return "no connection";
    std::string reply = c->readReply(20000);
    if (reply.rfind("220", 0) == 0) {
        c->send(firstCommand);
        reply = c->readReply(20000);
    }
    std::string rest;
    if (!c->waitClosed(20000, &rest))
        return "not closed after: " + reply;
    return reply + rest;
}

// tests/relay/tls_peer.py: one implicit-TLS connection that ends the way
// a test needs.
class TlsPeer {
public:
    TlsPeer(const TestCertificates& certificates, const char* mode, const std::string& certificate = "good")
    {
        const auto files = certificates.serve(certificate, "");
        pid_ = startListeningHelper(
            {"/usr/bin/python3", relayTestFolder() + "/tls_peer.py", files[1], files[3], mode}, -1, port_);
    }
    TlsPeer(const TlsPeer&) = delete;
    TlsPeer& operator=(const TlsPeer&) = delete;
    ~TlsPeer()
    {
        int status = 0;
        for (int i = 0; i < 200 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
            ::usleep(50000);
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
    }
    std::uint16_t port() const { return port_; }

private:
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

std::uint32_t crc32(std::string_view data)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

} // namespace

// The transport itself: a large send against a slow reader (partial writes,
// waits for writability) arrives whole, and the two ways a peer can end
// are told apart.
TEST_F(TlsRelay, TransportKeepsTheStreamWholeAndKnowsHowItEnded)
{
    ServerSecurity security;
    security.mode = SecurityMode::Tls;
    security.caFile = certificates->ca();
    {
        TlsPeer peer(*certificates, "count");
        auto connection = connectSecurely("127.0.0.1", peer.port(), security, 10000);
        ASSERT_EQ(connection->error, 0) << connection->detail;
        std::string body;
        for (int line = 0; body.size() < 8 * 1024 * 1024; ++line)
            body += std::to_string(line) + std::string(90 + line % 7, static_cast<char>('a' + line % 26)) + "\r\n";
        const std::string data = body + ".\r\n";
        ASSERT_EQ(connection->transport().sendAll(data.data(), data.size(), 60), static_cast<ssize_t>(data.size()));
        std::string reply;
        int code = 0;
        ASSERT_TRUE(connection->replies().read(reply, code, 30000));
        const std::string_view sent(body.data(), body.size() - 2);
        EXPECT_EQ(reply, "250 " + std::to_string(sent.size()) + " " + std::to_string(crc32(sent)) + "\r\n");
    }
    struct Case {
        const char* mode;
        ssize_t result;
    };
    for (const Case& test : {Case{"abrupt", -1}, Case{"orderly", 0}}) {
        SCOPED_TRACE(test.mode);
        TlsPeer peer(*certificates, test.mode);
        auto connection = connectSecurely("127.0.0.1", peer.port(), security, 10000);
        ASSERT_EQ(connection->error, 0) << connection->detail;
        char buffer[64];
        EXPECT_EQ(connection->transport().receive(buffer, sizeof buffer, 10000), test.result);
        EXPECT_FALSE(connection->transport().timedOut());
    }
}

// Host names are checked by RFC 6125 rules: a wildcard stands for exactly
// one whole leftmost label, and a wildcard inside a label matches nothing.
// The names are checked against the certificate directly, so no name needs
// to resolve to this machine.
TEST_F(TlsRelay, WildcardsMatchOnlyAWholeLeftmostLabel)
{
    struct Case {
        const char* certificate;
        const char* host;
        int code;
    };
    for (const Case& test : {Case{"other", "a.example.test", 0}, Case{"other", "mail.example.test", 0},
                             Case{"other", "a.b.example.test", ERR_TLS_NAME_MISMATCH},
                             Case{"other", "example.test", ERR_TLS_NAME_MISMATCH},
                             Case{"partial", "mail1.example.test", ERR_TLS_NAME_MISMATCH}}) {
        SCOPED_TRACE(std::string(test.certificate) + " for " + test.host);
        TlsPeer peer(*certificates, "orderly", test.certificate);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(peer.port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        Socket socket(fd);
        int code = 0;
        std::string reason;
        const auto tls = TlsTransport::start(socket, test.host, TlsOptions{certificates->ca(), true}, 10000, code,
                                             reason);
        EXPECT_EQ(tls != nullptr, test.code == 0) << reason;
        EXPECT_EQ(code, test.code) << reason;
        if (tls)
            tls->close(2000);
    }
}

TEST_F(TlsRelay, MailArrivesByteForByteInBothModes)
{
    struct Case {
        const char* name;
        const char* security;
        const char* mode;
        const char* server;  // a name (SNI and name check) or an address (IP name check)
    };
    for (const Case& test : {Case{"starttls to a name", "STARTTLS", "--starttls", "localhost"},
                             Case{"tls to an address", "tls", "--tls", "127.0.0.1"}}) {
        SCOPED_TRACE(test.name);
        SmtpSink sink(certificates->serve("good", test.mode));
        ProxyRunner proxy(sink.port());
        configure(test.server, test.security, certificates->ca());
        sendMail(proxy.port());
        ASSERT_TRUE(sink.waitForMails(1, 10000));
        EXPECT_EQ(sink.mails()[0].message, Message);
        // In clear at most the proxy's own EHLO, before STARTTLS.
        const std::string journal = sink.journal();
        EXPECT_EQ(journal.find("tls=0", journal.find('\n')), std::string::npos) << journal;
        EXPECT_TRUE(proxy.waitIdle());
        for (const Balloon& b : proxy.notices().balloons())
            EXPECT_NE(b.kind, NoticeKind::Error) << b.text;
    }
}

TEST_F(TlsRelay, ClientSeesOnlyTheEhloReplyGivenOverTls)
{
    SmtpSink sink(certificates->serve("good", "--starttls"));
    ProxyRunner proxy(sink.port());
    configure("localhost", "starttls", certificates->ca());
    auto c = connectTo(proxy.port());
    ASSERT_EQ(c->readReply().substr(0, 4), "220 ");
    ASSERT_TRUE(c->send("EHLO client.example\r\n"));
    const std::string reply = c->readReply();
    EXPECT_NE(reply.find("XAFTERTLS"), std::string::npos) << reply;
    EXPECT_EQ(reply.find("STARTTLS"), std::string::npos) << reply;
    ASSERT_TRUE(c->send("NOOP\r\n"));
    EXPECT_EQ(c->readReply().substr(0, 4), "250 ");  // nothing else was queued before it
    ASSERT_TRUE(c->send("QUIT\r\n"));
    EXPECT_EQ(c->readReply().substr(0, 3), "221");
    // The proxy's own EHLO carried the client's name; the client's EHLO came
    // after the handshake.
    EXPECT_EQ(sink.journal(), "EHLO tls=0 client.example\nEHLO tls=1 client.example\nNOOP tls=1 \n");
}

TEST_F(TlsRelay, FirstCommandOtherThanEhloNeverCrossesInClear)
{
    // The sink would take a NOOP in clear, and journals whether it came
    // over TLS. A MAIL first is answered by the server itself: after
    // STARTTLS it wants a new EHLO.
    SmtpSink sink(certificates->serve("good", "--starttls"));
    ProxyRunner proxy(sink.port());
    configure("localhost", "starttls", certificates->ca());
    struct Case {
        const char* command;
        const char* reply;
        const char* journal;
    };
    for (const Case& test : {Case{"NOOP\r\n", "250", "EHLO tls=0 localhost\nNOOP tls=1 \n"},
                             Case{"MAIL FROM:<alice@corp.example>\r\n", "503", "EHLO tls=0 localhost\n"}}) {
        SCOPED_TRACE(test.command);
        auto c = connectTo(proxy.port());
        ASSERT_EQ(c->readReply().substr(0, 4), "220 ");
        ASSERT_TRUE(c->send(test.command));
        EXPECT_EQ(c->readReply().substr(0, 3), test.reply);
        ASSERT_TRUE(c->send("QUIT\r\n"));
        EXPECT_EQ(c->readReply().substr(0, 3), "221");
        EXPECT_TRUE(c->waitClosed());
        EXPECT_TRUE(proxy.waitIdle());
        EXPECT_EQ(sink.journal(), test.journal);
        writeFile(sink.journalPath(), "");
    }
}

TEST_F(TlsRelay, HeloStaysHeloAndQuitBeforeTheUpgradeNeedsNoServer)
{
    SmtpSink sink(certificates->serve("good", "--starttls"));
    ProxyRunner proxy(sink.port());
    configure("localhost", "starttls", certificates->ca());
    sendMail(proxy.port(), "HELO old.client\r\n");
    EXPECT_EQ(sink.journal(), "EHLO tls=0 old.client\nHELO tls=1 old.client\nMAIL tls=1 alice@corp.example\n");

    auto c = connectTo(proxy.port());
    ASSERT_EQ(c->readReply().substr(0, 4), "220 ");
    ASSERT_TRUE(c->send("QUIT\r\n"));
    EXPECT_EQ(c->readReply().substr(0, 4), "221 ");
    EXPECT_TRUE(c->waitClosed());
    EXPECT_EQ(sink.journal().find("localhost"), std::string::npos) << sink.journal();
}

TEST_F(TlsRelay, AuthPlainPassesThroughStartTls)
{
    SmtpSink sink([] {
        auto options = certificates->serve("good", "--starttls");
        options.push_back("--auth");
        return options;
    }());
    ProxyRunner proxy(sink.port());
    configure("localhost", "starttls", certificates->ca());
    auto c = connectTo(proxy.port());
    ASSERT_EQ(c->readReply().substr(0, 4), "220 ");
    ASSERT_TRUE(c->send("EHLO client.example\r\n"));
    EXPECT_NE(c->readReply().find("AUTH"), std::string::npos);  // offered only over TLS
    ASSERT_TRUE(c->send("AUTH PLAIN AHVzZXIAc2VjcmV0\r\n"));     // "\0user\0secret"
    EXPECT_EQ(c->readReply().substr(0, 3), "235");
    ASSERT_TRUE(c->send("QUIT\r\n"));
    EXPECT_EQ(c->readReply().substr(0, 3), "221");
}

TEST_F(TlsRelay, CancelledMailOverStartTlsNeverArrives)
{
    SmtpSink sink(certificates->serve("good", "--starttls"));
    ProxyRunner proxy(sink.port(), 2);
    configure("localhost", "starttls", certificates->ca());
    auto c = connectTo(proxy.port());
    ASSERT_EQ(c->readReply().substr(0, 4), "220 ");
    ASSERT_TRUE(c->send("EHLO client.example\r\n"));
    ASSERT_EQ(c->readReply().substr(0, 3), "250");
    ASSERT_TRUE(c->send("MAIL FROM:<alice@corp.example>\r\nRCPT TO:<bob@corp.example>\r\nDATA\r\n"));
    ASSERT_EQ(c->readReply().substr(0, 3), "250");
    ASSERT_EQ(c->readReply().substr(0, 3), "250");
    ASSERT_EQ(c->readReply().substr(0, 3), "354");
    ASSERT_TRUE(c->send(stuffed() + ".\r\n"));
    EXPECT_EQ(c->readReply(), "450 Pelorus action has been cancelled.\r\n");
    // The server's 221 to the proxy's QUIT, sent inside TLS.
    EXPECT_EQ(c->readReply().substr(0, 4), "221 ");
    EXPECT_TRUE(c->waitClosed());
    EXPECT_TRUE(proxy.waitIdle());
    EXPECT_TRUE(proxy.notices().hasBalloonContaining("Cancelled a mail:"));
    EXPECT_TRUE(sink.mails().empty());
}

TEST_F(TlsRelay, VerificationOffAcceptsASelfSignedServer)
{
    SmtpSink sink(certificates->serve("self", "--starttls"));
    ProxyRunner proxy(sink.port());
    configure("localhost", "starttls", std::nullopt, false);
    sendMail(proxy.port());
    ASSERT_TRUE(sink.waitForMails(1, 10000));
    EXPECT_EQ(sink.mails()[0].message, Message);
}

// Every way the encrypted connection can fail against a real server: the
// client gets 421 4.7.0 with the reason, one error balloon says the same,
// and nothing of the client's reaches the server.
TEST_F(TlsRelay, RefusedConnectionsForwardNothing)
{
    struct Case {
        const char* name;
        std::vector<std::string> sink;  // the real server's options
        const char* server;
        const char* security;
        std::optional<std::string> caFile;
        int code;
    };
    const std::string ca = certificates->ca();
    const Case cases[] = {
        {"untrusted CA, starttls", certificates->serve("good", "--starttls"), "localhost", "starttls", std::nullopt,
         ERR_TLS_UNTRUSTED},
        {"untrusted CA, tls", certificates->serve("good", "--tls"), "localhost", "tls", std::nullopt,
         ERR_TLS_UNTRUSTED},
        {"self-signed, verified", certificates->serve("self", "--tls"), "localhost", "tls", ca, ERR_TLS_UNTRUSTED},
        {"wrong name, starttls", certificates->serve("other", "--starttls"), "localhost", "starttls", ca,
         ERR_TLS_NAME_MISMATCH},
        {"wrong name, tls", certificates->serve("other", "--tls"), "localhost", "tls", ca, ERR_TLS_NAME_MISMATCH},
        {"wrong address, tls", certificates->serve("other", "--tls"), "127.0.0.1", "tls", ca,
         ERR_TLS_NAME_MISMATCH},
        {"server without STARTTLS", {}, "localhost", "starttls", ca, ERR_TLS_NOT_OFFERED},
        {"tls against a plain server", {}, "localhost", "tls", ca, ERR_TLS_HANDSHAKE},
        {"CA file unreadable", certificates->serve("good", "--tls"), "localhost", "tls", "/nonexistent/ca.pem",
         ERR_TLS_CA_FILE},
        {"unknown Security value", {}, "localhost", "ssl", ca, ERR_TLS_SECURITY_SETTING},
        {"STARTTLS against implicit TLS", certificates->serve("good", "--tls"), "localhost", "starttls", ca,
         ERR_TLS_NO_ANSWER},
    };
    // A server that stays silent is judged within this limit, not 30 s.
    setSecurityStepMilliseconds(1500);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        SmtpSink sink(test.sink);
        ProxyRunner proxy(sink.port());
        configure(test.server, test.security, test.caFile);
        const std::string seen = firstRefusal(proxy.port(), "MAIL FROM:<alice@corp.example>\r\n");
        EXPECT_EQ(seen, tlsRefusalReply(test.code));
        EXPECT_TRUE(proxy.waitIdle());
        std::vector<std::string> errors;
        for (const Balloon& b : proxy.notices().balloons())
            if (b.kind == NoticeKind::Error)
                errors.push_back(b.text);
        EXPECT_EQ(errors, std::vector<std::string>{relayErrorText(test.code)});
        EXPECT_EQ(sink.journal().find("MAIL"), std::string::npos) << sink.journal();
        EXPECT_TRUE(sink.mails().empty());
    }
}

// What only a scripted server does: refuse STARTTLS, or slip a reply in
// after its 220 that would otherwise be read as if it came through TLS.
TEST_F(TlsRelay, ScriptedServersThatMustBeRefused)
{
    struct Case {
        const char* name;
        const char* startTlsReply;
        int code;
    };
    const Case cases[] = {
        {"STARTTLS answered 454", "454 4.7.0 TLS not available due to temporary reason\r\n", ERR_TLS_REFUSED},
        {"bytes after the 220", "220 2.0.0 Ready to start TLS\r\n250 injected\r\n", ERR_TLS_INJECTION},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        std::mutex lock;
        std::vector<std::string> received;
        ScriptedServer server([&](Connection& c) {
            c.send("220 scripted ESMTP\r\n");
            for (std::string line; !(line = c.readLine(10000)).empty();) {
                {
                    std::lock_guard guard(lock);
                    received.push_back(line);
                }
                if (line.rfind("EHLO", 0) == 0)
                    c.send("250-scripted\r\n250-PIPELINING\r\n250 STARTTLS\r\n");
                else if (line == "STARTTLS\r\n")
                    c.send(test.startTlsReply);
                else
                    c.send("250 OK\r\n");
            }
        });
        ProxyRunner proxy(server.port());
        configure("localhost", "starttls", certificates->ca());
        EXPECT_EQ(firstRefusal(proxy.port(), "MAIL FROM:<alice@corp.example>\r\n"), tlsRefusalReply(test.code));
        EXPECT_TRUE(proxy.waitIdle());
        EXPECT_TRUE(proxy.notices().hasBalloonContaining(relayErrorText(test.code)));
        std::lock_guard guard(lock);
        EXPECT_EQ(received, (std::vector<std::string>{"EHLO localhost\r\n", "STARTTLS\r\n"}));
    }
}

// The function the connection test uses: the certificate's details on
// success, the relay code on failure, in every mode.
TEST_F(TlsRelay, ConnectSecurelyReportsTheCertificateOrTheFailure)
{
    SmtpSink starttls(certificates->serve("good", "--starttls"));
    SmtpSink implicit(certificates->serve("good", "--tls"));
    ServerSecurity security;
    security.caFile = certificates->ca();

    security.mode = SecurityMode::StartTls;
    auto connection = connectSecurely("localhost", starttls.port(), security, 5000);
    ASSERT_EQ(connection->error, 0) << connection->detail;
    EXPECT_TRUE(connection->encrypted);
    EXPECT_TRUE(connection->peer.verified);
    EXPECT_EQ(connection->peer.subject, "CN=localhost");
    EXPECT_EQ(connection->peer.issuer, "CN=Pelorus Test CA");
    EXPECT_EQ(connection->peer.protocol.rfind("TLSv1.", 0), 0u);
    ASSERT_EQ(connection->transport().sendAll("EHLO localhost\r\n", 16, 5), 16);
    std::string reply;
    int code = 0;
    ASSERT_TRUE(connection->replies().read(reply, code, 5000));
    EXPECT_NE(reply.find("XAFTERTLS"), std::string::npos);
    connection->close();

    security.mode = SecurityMode::Tls;
    connection = connectSecurely("127.0.0.1", implicit.port(), security, 5000);
    ASSERT_EQ(connection->error, 0) << connection->detail;
    EXPECT_EQ(connection->greetingCode, 220);

    security.mode = SecurityMode::StartTls;
    connection = connectSecurely("localhost", implicit.port(), security, 1000);
    EXPECT_EQ(connection->error, ERR_TLS_NO_ANSWER);
    EXPECT_NE(connection->detail.find("465"), std::string::npos);

    security.caFile.clear();
    security.mode = SecurityMode::Tls;
    connection = connectSecurely("localhost", implicit.port(), security, 5000);
    EXPECT_EQ(connection->error, ERR_TLS_UNTRUSTED);
    security.verify = false;
    connection = connectSecurely("localhost", implicit.port(), security, 5000);
    EXPECT_EQ(connection->error, 0);
    EXPECT_FALSE(connection->peer.verified);
}

TEST(TlsRelaySettings, ModesAndRepliesReadAsTheUserWroteThem)
{
    struct Case {
        const char* text;
        SecurityMode mode;
    };
    for (const Case& test : {Case{"", SecurityMode::None}, Case{"None", SecurityMode::None},
                             Case{" STARTTLS ", SecurityMode::StartTls}, Case{"Tls", SecurityMode::Tls},
                             Case{"ssl", SecurityMode::Unknown}, Case{"starttls2", SecurityMode::Unknown}})
        EXPECT_EQ(parseSecurityMode(test.text), test.mode) << "[" << test.text << "]";

    EXPECT_TRUE(ehloOffers("250-mx.example\r\n250-SIZE 1000\r\n250 starttls\r\n", "STARTTLS"));
    EXPECT_TRUE(ehloOffers("250-mx.example\r\n250-STARTTLS\r\n250 8BITMIME\r\n", "STARTTLS"));
    EXPECT_FALSE(ehloOffers("250-STARTTLS.example\r\n250 SIZE 1000\r\n", "STARTTLS"));  // the server's name
    EXPECT_FALSE(ehloOffers("250-mx.example\r\n250 XSTARTTLS\r\n", "STARTTLS"));

    EXPECT_EQ(upgradeEhloName("EHLO client.example\r\n"), "client.example");
    EXPECT_EQ(upgradeEhloName("helo  [192.0.2.1]\r\n"), "[192.0.2.1]");
    EXPECT_EQ(upgradeEhloName("EHLO\r\n"), "localhost");
    EXPECT_EQ(upgradeEhloName("MAIL FROM:<a@b>\r\n"), "localhost");
    EXPECT_EQ(tlsRefusalReply(ERR_TLS_REFUSED), "421 4.7.0 The SMTP server refused STARTTLS.\r\n");
}
