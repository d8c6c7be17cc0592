// The relay's small pieces on their own: the end-of-data scanner, whole
// replies, the EHLO filter, client lines, addresses, notice texts and the
// cautions of a mail transaction.
#include "relay/Addresses.h"
#include "relay/ClientReader.h"
#include "relay/DataScanner.h"
#include "relay/MailTransaction.h"
#include "relay/Notifications.h"
#include "relay/ReplyReader.h"
#include "relay/ServerConnection.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <random>

#include <thread>

#include <sys/socket.h>
#include <unistd.h>

using namespace MAIL;

namespace {

// Both ends of a local stream connection.
struct SocketPair {
    SocketPair()
    {
        int fds[2];
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
        ours.attach(fds[0]);
        peer = fds[1];
    }
    ~SocketPair() { ::close(peer); }
    void send(const std::string& text) { ASSERT_EQ(::write(peer, text.data(), text.size()), (ssize_t)text.size()); }
    Socket ours;
    int peer;
};

// Feeds the pieces in turn; returns the bytes taken as data and the flags.
struct ScanResult {
    std::size_t taken;
    bool ended;
    bool bare;
};
ScanResult scanPieces(const std::vector<std::string>& pieces)
{
    DataScanner scanner;
    std::size_t taken = 0;
    for (const auto& piece : pieces)
        taken += scanner.scan(piece);
    return {taken, scanner.ended(), scanner.hasBareLineEnd()};
}

} // namespace

TEST(DataScanner, FindsTheMarkOnTheStream)
{
    const std::string mail = "a\r\nb\r\n.\r\nNOOP\r\n";
    const std::size_t end = mail.find("NOOP");
    for (std::size_t cut = 0; cut <= mail.size(); ++cut) {
        const ScanResult r = scanPieces({mail.substr(0, cut), mail.substr(cut)});
        EXPECT_TRUE(r.ended) << cut;
        EXPECT_EQ(r.taken, end) << "what follows the mark is not data (cut " << cut << ")";
        EXPECT_FALSE(r.bare) << cut;
    }
    // Byte by byte.
    std::vector<std::string> single;
    for (char c : mail)
        single.emplace_back(1, c);
    EXPECT_EQ(scanPieces(single).taken, end);
}

// The scanner skips through lines with memchr; on random streams of line
// ends, dots and text, cut at random places, it must agree with the rules
// written out plainly: the data ends at the first CR LF "." CR LF (the
// DATA line's CR LF counting as its start), and an LF without its CR or a
// CR without its LF before that end is a bare line end.
TEST(DataScanner, AgreesWithThePlainRulesOnRandomStreams)
{
    std::mt19937 random(20261207);
    const char alphabet[] = {'\r', '\n', '.', 'a'};
    for (int round = 0; round < 20000; ++round) {
        std::string data;
        const int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i)
            data += alphabet[random() % 4];
        std::vector<std::string> pieces;
        for (std::size_t at = 0; at < data.size();) {
            const std::size_t size = 1 + random() % 12;
            pieces.push_back(data.substr(at, size));
            at += size;
        }
        const std::size_t mark = ("\r\n" + data).find("\r\n.\r\n");
        const bool ends = mark != std::string::npos;
        const std::size_t taken = ends ? mark + 3 : data.size();
        bool bare = false;
        for (std::size_t i = 0; i < taken; ++i) {
            if (data[i] == '\n' && (i == 0 || data[i - 1] != '\r'))
                bare = true;
            if (data[i] == '\r' && i + 1 < taken && data[i + 1] != '\n')
                bare = true;
        }
        const ScanResult result = scanPieces(pieces);
        ASSERT_EQ(result.ended, ends) << testing::PrintToString(data);
        ASSERT_EQ(result.taken, taken) << testing::PrintToString(data);
        ASSERT_EQ(result.bare, bare) << testing::PrintToString(data);
    }
}

TEST(DataScanner, DotStuffingAndLookalikesDoNotEndTheData)
{
    struct Case {
        const char* name;
        std::string data;
        bool ended, bare;
    };
    for (const Case& c : {
             Case{"EmptyMail", ".\r\n", true, false},
             Case{"StuffedDot", "x\r\n..\r\ny\r\n", false, false},
             Case{"DotThenText", "x\r\n.x\r\n", false, false},
             Case{"BareLfMark", "x\n.\n", false, true},
             Case{"BareCr", "x\ry\r\n.\r\n", true, true},
             Case{"LeadingLf", "\nx\r\n.\r\n", true, true},
             Case{"CrCrLf", "x\r\r\n.\r\n", true, true},
         }) {
        const ScanResult r = scanPieces({c.data});
        EXPECT_EQ(r.ended, c.ended) << c.name;
        EXPECT_EQ(r.bare, c.bare) << c.name;
    }
}

// sendAll sends at once while the buffer takes the bytes, waits while a
// peer that stops reading fills it, and gives up with -2 when its limit
// passes; a peer that has gone is a failure, not a time-out.
TEST(Socket, SendAllWaitsWithinItsLimit)
{
    SocketPair pair;
    const std::string small = "250 OK\r\n";
    EXPECT_EQ(pair.ours.sendAll(small.data(), small.size(), 1), static_cast<ssize_t>(small.size()));
    const std::string big(16 * 1024 * 1024, 'x');
    EXPECT_EQ(pair.ours.sendAll(big.data(), big.size(), 1), -2);
    EXPECT_TRUE(pair.ours.timedOut());

    SocketPair gone;
    ::close(gone.peer);
    gone.peer = -1;
    EXPECT_EQ(gone.ours.sendAll(small.data(), small.size(), 1), -2);
    EXPECT_FALSE(gone.ours.timedOut());
}

TEST(ReplyReader, ReadsWholeRepliesHoweverTheyArrive)
{
    SocketPair pair;
    ReplyReader reader(pair.ours);
    pair.send("250-first\r\n250-sec");
    pair.send("ond\r\n250 last\r\n220 next\r\n");
    std::string reply;
    int code = 0;
    ASSERT_TRUE(reader.read(reply, code, 1000));
    EXPECT_EQ(reply, "250-first\r\n250-second\r\n250 last\r\n");
    EXPECT_EQ(code, 250);
    ASSERT_TRUE(reader.read(reply, code, 1000));
    EXPECT_EQ(reply, "220 next\r\n");
    pair.send("354\r\n");
    ASSERT_TRUE(reader.read(reply, code, 1000));
    EXPECT_EQ(code, 354) << "a last line with nothing after the code";
    pair.send("xyz garbage\r\n");
    ASSERT_TRUE(reader.read(reply, code, 1000));
    EXPECT_EQ(code, 0);
}

TEST(ReplyReader, FailsOnTimeCloseAndSize)
{
    std::string reply;
    int code = 0;
    {
        SocketPair pair;
        ReplyReader reader(pair.ours);
        pair.send("250-only half\r\n");
        EXPECT_FALSE(reader.read(reply, code, 50));
    }
    {
        SocketPair pair;
        ReplyReader reader(pair.ours);
        std::thread writer([&pair] {
            const std::string line = "250-" + std::string(60, 'x') + "\r\n";
            for (int i = 0; i < 2000; ++i)
                if (::send(pair.peer, line.data(), line.size(), MSG_NOSIGNAL) <= 0)
                    return;
        });
        EXPECT_FALSE(reader.read(reply, code, 5000)) << "a reply over 64 KiB";
        pair.ours.close();
        writer.join();
    }
    {
        SocketPair pair;
        ReplyReader reader(pair.ours);
        ::shutdown(pair.peer, SHUT_WR);
        EXPECT_FALSE(reader.read(reply, code, 1000));
    }
}

TEST(ReplyReader, EhloFilterHidesWhatTheProxyCannotPassOn)
{
    EXPECT_EQ(filterEhloReply("250-host\r\n250-PIPELINING\r\n250-chunking\r\n250-BURL imap\r\n250 STARTTLS\r\n"),
              "250-host\r\n250 PIPELINING\r\n");
    EXPECT_EQ(filterEhloReply("250-host\r\n250-BINARYMIME\r\n250 SIZE 10\r\n"), "250-host\r\n250 SIZE 10\r\n");
    EXPECT_EQ(filterEhloReply("250 STARTTLS\r\n"), "250 STARTTLS\r\n") << "the first line names the host";
    EXPECT_EQ(filterEhloReply("250-host\r\n250-STARTTLSX\r\n250 OK\r\n"), "250-host\r\n250-STARTTLSX\r\n250 OK\r\n");
}

TEST(ClientReader, LinesAcrossReceivesAndDataAfterThem)
{
    SocketPair pair;
    ClientReader reader(pair.ours);
    pair.send("MAIL FR");
    pair.send("OM:<a@b>\r\nRCPT TO:<c@d>\nDATA\r\nbody");
    std::string line;
    ASSERT_EQ(reader.readLine(line, 1000), ClientReader::Status::Ok);
    EXPECT_EQ(line, "MAIL FROM:<a@b>\r\n");
    ASSERT_EQ(reader.readLine(line, 1000), ClientReader::Status::Ok);
    EXPECT_EQ(line, "RCPT TO:<c@d>\n");
    ASSERT_EQ(reader.readLine(line, 1000), ClientReader::Status::Ok);
    EXPECT_EQ(line, "DATA\r\n");
    std::string_view bytes;
    ASSERT_EQ(reader.available(bytes, 1000), ClientReader::Status::Ok);
    EXPECT_EQ(bytes, "body");
    reader.consume(2);
    ASSERT_EQ(reader.available(bytes, 1000), ClientReader::Status::Ok);
    EXPECT_EQ(bytes, "dy");
    EXPECT_EQ(reader.readLine(line, 50), ClientReader::Status::TimedOut);
    ::shutdown(pair.peer, SHUT_WR);
    EXPECT_EQ(reader.readLine(line, 1000), ClientReader::Status::Closed);
}

TEST(ClientReader, OverlongLineIsRefusedWithBoundedMemory)
{
    SocketPair pair;
    ClientReader reader(pair.ours);
    std::thread writer([&] {
        const std::string chunk(8192, 'a');
        for (int i = 0; i < 12; ++i)
            if (::send(pair.peer, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0)
                return;
    });
    std::string line;
    EXPECT_EQ(reader.readLine(line, 2000), ClientReader::Status::TooLong);
    pair.ours.close();
    writer.join();
}

TEST(Addresses, AddressOfTokensAndEnvelopeRecipients)
{
    struct Case {
        const char* text;
        const char* header;
        const char* envelope;
    };
    for (const Case& c : {
             Case{"<a@b.example>", "a@b.example", "a@b.example"},
             Case{"\"Boss corp.com\" <boss@evil.com>", "boss@evil.com", "\"Boss"},
             Case{"<x@evil.com> ORCPT=rfc822;x@corp.com", "x@evil.com", "x@evil.com"},
             Case{" plain@x.example ", "plain@x.example", "plain@x.example"},
             Case{"Name <a@x> <b@y>", "b@y", "Name"},
         }) {
        EXPECT_EQ(headerTokenAddress(c.text), c.header) << c.text;
        EXPECT_EQ(envelopeAddress(c.text), c.envelope) << c.text;
    }
    EXPECT_EQ(addressTokens("\"Doe, J\" <j@x>,, k@y ,"), (std::vector<std::string>{"\"Doe, J\" <j@x>", "k@y"}));
}

TEST(Notifications, TextsAreCutAtACharacterBoundary)
{
    const std::string euro = "\xE2\x82\xAC";  // three bytes
    std::string text(252, 'a');
    text += euro;
    EXPECT_EQ(cutUtf8(text, 254), std::string(252, 'a'));
    EXPECT_EQ(cutUtf8(std::string(300, 'b'), 254).size(), 254u);
    EXPECT_EQ(visibleText("a\r\nb\x1b[2Jc\td", true), "a\nb\\x1B[2Jc\\x09d");
    EXPECT_EQ(visibleText("a\r\nb", false), "a\\x0D\\x0Ab");
}

TEST(Notifications, BalloonsReachTheSinkWithKindAndTime)
{
    std::vector<Balloon> seen;
    setNotificationSink([&seen](const Balloon& b) { seen.push_back(b); });
    showTimedBalloon(std::string(300, 'x'), 3);
    showWarningBalloon("w");
    showErrorBalloon("e");
    showInfoBalloon("i");
    setNotificationSink(nullptr);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].text.size(), 254u);
    EXPECT_EQ(seen[0].milliseconds, 3000);
    EXPECT_EQ(seen[0].title, "Pelorus");
    EXPECT_EQ(seen[1].kind, NoticeKind::Warning);
    EXPECT_EQ(seen[1].milliseconds, 3000);
    EXPECT_EQ(seen[2].kind, NoticeKind::Error);
    EXPECT_EQ(seen[3].milliseconds, 6000);
}

TEST(ServerConnection, Ipv4LiteralsAndTheSelfCheck)
{
    std::uint32_t address = 0;
    EXPECT_TRUE(parseIPv4("127.0.0.1", address));
    EXPECT_TRUE(parseIPv4("0.0.0.0", address));
    for (const char* bad : {"256.0.0.1", "1.2.3", "1.2.3.4.5", "a.b.c.d", "1..2.3", " 1.2.3.4", "01234.1.1.1", "010.0.0.1", ""})
        EXPECT_FALSE(parseIPv4(bad, address)) << bad;
    ASSERT_TRUE(parseIPv4("127.0.0.1", address));
    EXPECT_TRUE(isLocalAddress(address));
    ASSERT_TRUE(parseIPv4("192.0.2.55", address));  // documentation range, never assigned here
    EXPECT_FALSE(isLocalAddress(address));
    const ConnectResult none = connectToServer("", 25, 1000);
    EXPECT_EQ(none.descriptor, -1);
}

TEST(MailTransaction, CautionBeatsTrustAndAttachmentsAreReadOnlyForAList)
{
    pelorus::test::TempDir dir;
    pelorus::test::ScopedEnv temp("TEMP", dir.path());
    PatternList trusted, authorized, domains, none, words, keys;
    trusted.add(new String("bob@rival.example"));
    trusted.add(new String("carol@corp.example"));
    domains.add(new String(""));
    domains.add(new String("RIVAL.example"));
    words.add(new String("confidential"));
    keys.add(new String(".key"));
    MailTransaction mail("<alice@corp.example>");
    mail.addRecipient("<bob@rival.example>", trusted, authorized);
    mail.addRecipient("<carol@corp.example>", trusted, authorized);
    EXPECT_TRUE(mail.allTrusted());
    EXPECT_TRUE(mail.markCautions(domains));
    EXPECT_EQ(mail.cautionAddresses(), "bob@rival.example") << "an empty entry cautions nobody";

    const std::string header = "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n";
    mail.headers.parse(header.c_str());
    // No spool file yet: an empty list never looks for one.
    EXPECT_FALSE(mail.carriesCautionAttachment(none));
    EXPECT_TRUE(mail.carriesCautionAttachment(words)) << "an unreadable spool file counts as a caution";
    mail.spool.initialize();
    ASSERT_TRUE(mail.spool.writeContent(header + "--b\r\nContent-Type: text/plain\r\n\r\nhi\r\n--b\r\n"
                                        "Content-Type: application/octet-stream; name=\"Q3-Confidential.xlsx\"\r\n"
                                        "Content-Transfer-Encoding: base64\r\n\r\nAAAA\r\n--b--\r\n.\r\n", ""));
    mail.spool.close();
    EXPECT_TRUE(mail.carriesCautionAttachment(words));
    EXPECT_FALSE(mail.carriesCautionAttachment(keys));
}

TEST(MailTransaction, OutsideDomainsAreCountedByDomainInOrderOfFirstAppearance)
{
    PatternList trusted, authorized;
    authorized.add(new String("corp.example"));
    MailTransaction mail("<alice@corp.example>");
    for (const char* rcpt : {"<a@X.example>", "<b@corp.example>", "<c@x.example>", "<d@y.example> NOTIFY=NEVER",
                             "<local-only>", "<e@y.example>"})
        mail.addRecipient(rcpt, trusted, authorized);
    EXPECT_EQ(mail.outsideDomains(), (std::vector<std::string>{"x.example", "y.example"}));
}
