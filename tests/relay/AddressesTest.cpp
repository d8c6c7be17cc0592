// Recipient texts with comments and quotes: how To and Cc are split into
// rows, which address each row is judged by, and that a recipient named in
// To with a comment is not listed again as hidden.
#include "RelayTestSupport.h"

#include "analysis/message/EncodedWords.h"
#include "relay/Addresses.h"

#include <gtest/gtest.h>

#include <csignal>

using namespace MAIL;
using namespace pelorus::test;

TEST(Addresses, CommentsAreNotTheAddress)
{
    struct Case {
        const char* token;
        const char* address;
    };
    for (const Case& c : {
             Case{"bob@dom.ain (Bob Person)", "bob@dom.ain"},
             Case{"x@evil.example (<boss@corp.example>)", "x@evil.example"},
             Case{"(Bob) \t bob@dom.ain", "bob@dom.ain"},
             Case{"bob (c) @ (d) dom.ain", "bob@dom.ain"},
             Case{"Bob (the (big) boss) <b@corp.example>", "b@corp.example"},
             Case{"<bob@dom.ain (why)>", "bob@dom.ain"},
             Case{"b@corp.example (a \\) still (nested \\( ) <no@evil.example>)", "b@corp.example"},
             Case{"\"Bob (not a comment\" <b@x.example>", "b@x.example"},
             Case{"\"Bob \\\" (still quoted)\" <b@x.example>", "b@x.example"},
             Case{"x@evil.example (<boss@corp.example>", "x@evil.example"},
             Case{"(only a comment)", ""},
             // Without comments, the earlier rules hold.
             Case{"Name <a@x> <b@y>", "b@y"},
             Case{"<unclosed@x", "unclosed@x"},
             Case{"a ) b@x", "a ) b@x"},
         })
        EXPECT_EQ(headerTokenAddress(c.token), c.address) << c.token;
}

TEST(Addresses, TokensSplitOnlyAtCommasOutsideQuotesAndComments)
{
    using Tokens = std::vector<std::string>;
    struct Case {
        const char* text;
        Tokens tokens;
    };
    for (const Case& c : {
             Case{"bob@dom.ain (Bob, Person), carol@x", {"bob@dom.ain (Bob, Person)", "carol@x"}},
             Case{"a@x (1, (2, 3) \\), 4), b@y", {"a@x (1, (2, 3) \\), 4)", "b@y"}},
             Case{"\"A\" \"B, C\" <a@x>, b@y", {"\"A\" \"B, C\" <a@x>", "b@y"}},
             Case{"\"a\\\", b\" <c@d>, e@f", {"\"a\\\", b\" <c@d>", "e@f"}},
             Case{"\"(\" <a@x>, b@y", {"\"(\" <a@x>", "b@y"}},
             Case{"a@x (open, b@y", {"a@x (open, b@y"}},
             Case{"\"open, b@y", {"\"open, b@y"}},
             Case{" ,, a@x ,\t, ", {"a@x"}},
         })
        EXPECT_EQ(addressTokens(c.text), c.tokens) << c.text;
}

// To and Cc reach the rows decoded (EncodedWords.h): whatever a decoded name
// holds, each address stays a row of its own.
TEST(Addresses, DecodedNamesNeitherJoinNorSplitRows)
{
    for (const char* raw : {
             "=?UTF-8?Q?Boss_(x?= <a@corp.example>, b@evil.example",
             "=?UTF-8?Q?x,\\?= <a@corp.example>, b@evil.example",
             "\"=?UTF-8?Q?x\\?=\" <a@corp.example>, b@evil.example",
             "a@corp.example (=?UTF-8?Q?x)_(y,?=), b@evil.example",
             "a@corp.example (=?UTF-8?Q?x\\?=), b@evil.example",
         }) {
        std::vector<std::string> addresses;
        for (const std::string& token : addressTokens(decodeAddressList(raw)))
            addresses.push_back(headerTokenAddress(token));
        EXPECT_EQ(addresses, (std::vector<std::string>{"a@corp.example", "b@evil.example"})) << raw;
    }
}

// 64 KiB headers: deep nesting, comments never closed, many tokens. (The
// results are compared as truths so that a failure does not print 64 KiB.)
TEST(Addresses, HostileHeadersAreReadInOnePass)
{
    const std::size_t size = 64 * 1024;
    const std::string deep = std::string(size / 2, '(') + std::string(size / 2, ')') + " b@x.example";
    EXPECT_TRUE(headerTokenAddress(deep) == "b@x.example");
    EXPECT_EQ(addressTokens(deep + ", c@y").size(), 2u);

    const std::string unclosed = "a@x " + std::string(size, '(') + ", <boss@corp.example>";
    EXPECT_EQ(addressTokens(unclosed).size(), 1u);
    EXPECT_TRUE(headerTokenAddress(unclosed) == "a@x");

    std::string many;
    for (std::size_t i = 0; i < size / 8; ++i)
        many += "a@x (,),";
    EXPECT_EQ(addressTokens(many).size(), size / 8);
    EXPECT_TRUE(headerTokenAddress(std::string(size, ')')) == std::string(size, ')'));
}

// swaks delivers through the proxy to aiosmtpd; the rows keep the tokens
// as written and are judged by their addresses.
TEST(Addresses, ARecipientWithACommentIsNotHidden)
{
    std::signal(SIGPIPE, SIG_IGN);
    SmtpSink sink;
    ProxyRunner proxy(sink.port(), 1);
    proxy.writeList("TrustedDomain.pel", {"corp.example"});
    TempDir files;
    writeFile(files / "mail.eml", "From: alice@corp.example\r\n"
                                  "To: bob@corp.example (Bob, Person), eve@evil.example (<boss@corp.example>)\r\n"
                                  "Subject: comments\r\n\r\nhello\r\n");
    const ProgramResult sent =
        runProgram({"swaks", "--server", "127.0.0.1", "--port", std::to_string(proxy.port()), "--from",
                    "alice@corp.example", "--to", "bob@corp.example,eve@evil.example", "--data",
                    "@" + files / "mail.eml", "--timeout", "60"});
    EXPECT_EQ(sent.status, 0) << sent.output << sent.errors;
    ASSERT_TRUE(sink.waitForMails(1, 10000));

    ASSERT_EQ(proxy.presenter().shown().size(), 1u);
    const Presented shown = proxy.presenter().shown()[0];
    EXPECT_EQ(shown.bcc, "");
    ASSERT_EQ(shown.toRows.size(), 2u);
    EXPECT_EQ(shown.toRows[0].first, "bob@corp.example (Bob, Person)");
    EXPECT_FALSE(shown.toRows[0].flagged);
    EXPECT_EQ(shown.toRows[1].first, "eve@evil.example (<boss@corp.example>)");
    EXPECT_TRUE(shown.toRows[1].flagged) << "a comment cannot make a recipient authorized";
    ASSERT_TRUE(proxy.waitIdle());
}
