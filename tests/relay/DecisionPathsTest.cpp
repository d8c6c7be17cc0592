// Every judged mail leaves exactly one line in the record of decisions,
// with the decision of the way it went: through the proxy to Debian's
// aiosmtpd, with the scripted presenter standing in for the user.
#include "RelayTestSupport.h"

#include "relay/DecisionRecord.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <map>
#include <thread>

using namespace pelorus::test;
using Json = nlohmann::json;

namespace {

// A presenter whose question runs out of time.
class TimingOut : public MAIL::ConfirmationPresenter {
public:
    int present(const MAIL::AddressConfirmationDialog&, MAIL::CancelToken& cancel) override
    {
        cancel.explain(MAIL::ConfirmationEnd::TimedOut);
        return 2;
    }
};

const std::string Mail = "Message-ID: <plan-7@corp.example>\r\n"
                         "To: Bob <bob@corp.example>\r\n"
                         "Cc: carol@partner.example\r\n"
                         "Subject: the plan\r\n"
                         "\r\n"
                         "hello\r\n";

// The record's lines once it holds count of them (or after 20 seconds).
std::vector<Json> recordLines(const ProxyRunner& proxy, std::size_t count)
{
    std::vector<Json> lines;
    for (int wait = 0; wait < 2000; ++wait) {
        lines.clear();
        for (const std::string& line : linesOf(pathExists(proxy.decisionFile()) ? readFile(proxy.decisionFile()) : ""))
            lines.push_back(Json::parse(line));
        if (lines.size() >= count)
            break;
        ::usleep(10000);
    }
    return lines;
}

// Sends one mail and reads the reply to its data.
std::string sendMail(std::uint16_t port, const std::vector<std::string>& rcpts, const std::string& data)
{
    auto c = connectTo(port);
    c->readReply();
    c->send("EHLO client.example\r\n");
    c->readReply();
    c->send("MAIL FROM:<alice@corp.example>\r\n");
    c->readReply();
    for (const std::string& rcpt : rcpts) {
        c->send("RCPT TO:<" + rcpt + ">\r\n");
        c->readReply();
    }
    c->send("DATA\r\n");
    c->readReply();
    c->send(data + ".\r\n");
    const std::string reply = c->readReply();
    c->send("QUIT\r\n");
    c->waitClosed();
    return reply;
}

class DecisionPaths : public testing::Test {
protected:
    static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }
};

} // namespace

TEST_F(DecisionPaths, OneLinePerMailWithTheDecisionOfItsPath)
{
    struct Path {
        const char* name;
        int answer;               // of the scripted presenter
        bool timesOut;
        bool trusted;             // every recipient fully trusted
        std::string data;
        const char* reply;        // how the client's reply begins
        const char* decision;
        const char* decidedBy;
        const char* serverReply;  // how the server's last line begins; null for none
    };
    const Path paths[] = {
        {"sent", 1, false, false, Mail, "250", "sent", "user", "250"},
        {"cancelled", 2, false, false, Mail, "450", "cancelled", "user", nullptr},
        {"timeout", 1, true, false, Mail, "450", "timeout", "user", nullptr},
        {"no question", 2, false, true, Mail, "250", "sent", "no-question", "250"},
        {"bare LF", 1, false, false, "Subject: x\r\n\r\nsmuggled\nline\r\n", "554", "refused", "no-question", nullptr},
        {"refused by the server", 1, false, false, "X-Sink-Refuse: yes\r\n" + Mail, "554", "failed", "user",
         "554 5.7.1"},
    };
    for (const Path& path : paths) {
        SmtpSink sink;
        ProxyRunner proxy(sink.port(), path.answer);
        if (path.timesOut)
            MAIL::setConfirmationPresenter(std::make_shared<TimingOut>());
        if (path.trusted)
            proxy.writeList("TrustedRecipient.plx", {"bob@corp.example"});
        EXPECT_EQ(sendMail(proxy.port(), {"bob@corp.example"}, path.data).substr(0, 3), path.reply) << path.name;
        ASSERT_TRUE(proxy.waitIdle()) << path.name;
        const std::vector<Json> lines = recordLines(proxy, 1);
        ASSERT_EQ(lines.size(), 1u) << path.name;
        EXPECT_EQ(lines[0]["decision"], path.decision) << path.name;
        EXPECT_EQ(lines[0]["decided_by"], path.decidedBy) << path.name;
        if (path.serverReply == nullptr)
            EXPECT_TRUE(lines[0]["server_reply"].is_null()) << path.name;
        else
            EXPECT_EQ(lines[0]["server_reply"].get<std::string>().rfind(path.serverReply, 0), 0u) << path.name;
        // Only a mail the server took teaches the history of sent recipients.
        const bool learnt = pathExists(proxy.historyFile()) &&
                            readFile(proxy.historyFile()).find("\nbob@corp.example\t") != std::string::npos;
        EXPECT_EQ(learnt, std::string(path.decision) == "sent") << path.name;
    }
}

TEST_F(DecisionPaths, ARecordSaysWhatTheConfirmationShowed)
{
    SmtpSink sink;
    ProxyRunner proxy(sink.port(), 1);
    proxy.writeList("TrustedDomain.pel", {"corp.example"});
    proxy.writeList("CautionDomain.pel", {"hidden.example"});
    proxy.writeHistory("# since 2020-01-01\nbob@corp.example\t2020-01-02\n");
    sendMail(proxy.port(), {"bob@corp.example", "carol@partner.example", "dave@hidden.example"}, Mail);
    ASSERT_TRUE(proxy.waitIdle());
    const std::vector<Json> lines = recordLines(proxy, 1);
    ASSERT_EQ(lines.size(), 1u);
    const Json& r = lines[0];
    EXPECT_EQ(r["message_id"], "<plan-7@corp.example>");
    EXPECT_EQ(r["subject"], "the plan");
    EXPECT_EQ(r["from"], "alice@corp.example");
    ASSERT_EQ(r["recipients"].size(), 3u);
    const char* fields[] = {"to", "cc", "bcc"};
    const bool authorized[] = {true, false, false};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(r["recipients"][i]["field"], fields[i]) << i;
        EXPECT_EQ(r["recipients"][i]["authorized"], authorized[i]) << i;
        EXPECT_EQ(r["recipients"][i]["trusted"], false) << i;
        EXPECT_EQ(r["recipients"][i]["caution"], i == 2) << i;
        EXPECT_EQ(r["recipients"][i]["new"], i != 0) << i;
    }
    EXPECT_EQ(r["security"], Json({{"irm", false}, {"smime", false}}));
    EXPECT_EQ(r["warnings"], Json({"Warning:Found unauthorized recipients",
                                   "First mail to: carol@partner.example, dave@hidden.example",
                                   "Caution: dave@hidden.example",
                                   "Warning: this mail goes to 2 outside domains: partner.example, hidden.example",
                                   "Warning:This mail is not protected by IRM and also not encrypted by S/MIME.",
                                   "Please confirm recipients."}));
    EXPECT_EQ(r["hold_seconds"], 0);
}

TEST_F(DecisionPaths, ANewerConfirmationReplacesTheOpenOne)
{
    SmtpSink sink;
    ProxyRunner proxy(sink.port(), 0);  // every question waits for a cancel
    std::string firstReply;
    std::thread first([&] { firstReply = sendMail(proxy.port(), {"bob@corp.example"}, Mail); });
    ASSERT_TRUE(proxy.presenter().waitForShown(1, 20000));
    std::thread second([&] { sendMail(proxy.port(), {"eve@elsewhere.example"}, Mail); });
    first.join();
    EXPECT_EQ(firstReply.substr(0, 3), "450");
    ASSERT_TRUE(proxy.presenter().waitForShown(2, 20000));
    MAIL::cancelOpenConfirmation(false);  // what a stop does to the one still open
    second.join();
    std::map<std::string, Json> byRecipient;  // the two sessions end in either order
    for (const Json& line : recordLines(proxy, 2))
        byRecipient[line["recipients"][0]["address"]] = line;
    ASSERT_EQ(byRecipient.size(), 2u);
    EXPECT_EQ(byRecipient["bob@corp.example"]["decision"], "replaced");
    EXPECT_EQ(byRecipient["bob@corp.example"]["decided_by"], "user");
    EXPECT_EQ(byRecipient["eve@elsewhere.example"]["decision"], "cancelled");
    EXPECT_EQ(byRecipient["eve@elsewhere.example"]["decided_by"], "nobody");
}
