#include "analysis/message/MailHeaderParser.h"

#include "MessageLog.h"
#include "support/CaptureStdout.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using MAIL::MailHeaderParser;

namespace {

// Everything a reader of the parser can see, as one comparable text.
std::string results(const MailHeaderParser& parser)
{
    std::string out;
    parser.getHeaders().forEach<MAIL::MailHeader>([&](const MAIL::MailHeader& header) {
        out += "[" + std::string(header.getName().view()) + "]=[" + std::string(header.getValue().view()) + "]\n";
    });
    MAIL::String summary;
    parser.getSecuritySummary(summary);
    out += "to=" + std::string(parser.getTo().view()) + "\ncc=" + std::string(parser.getCc().view()) +
           "\nsubject=" + std::string(parser.getSubject().view()) +
           "\ntype=" + std::string(parser.getContentType().view()) +
           "\nboundary=" + std::string(parser.getBoundary().view()) +
           "\nclass=" + std::string(parser.getContentClass().view()) +
           "\nmultipart=" + std::to_string(parser.isMultipart()) +
           " kind=" + std::to_string(parser.getMultipartKind()) + " ended=" + std::to_string(parser.isHeaderEnded()) +
           "\nsummary=" + std::string(summary.view()) + "\n";
    return out;
}

std::string parseBlocks(const std::vector<std::string>& blocks)
{
    MailHeaderParser parser;
    for (const std::string& block : blocks)
        parser.parse(std::string_view(block));
    return results(parser);
}

const std::string RealHeader =
    "Return-Path: <alice@example.org>\r\n"
    "From: =?UTF-8?B?44Ki44Oq44K5?= <alice@example.org>\r\n"
    "To: \"Bob\" <bob@example.net>,\r\n"
    "\tcarol@example.net\r\n"
    "Cc: =?UTF-8?B?U21pdGgsIEpvaG4=?= <john@example.com>\r\n"
    "Subject: =?UTF-8?B?6KaL56mN5pu4?=\r\n"
    " =?ISO-2022-JP?B?GyRCJCIkJCQmGyhC?=\r\n"
    "content-class: urn:content-classes:message\r\n"
    "Content-Type: multipart/mixed;\r\n"
    " boundary=\"----=_Part_0_1\"\r\n"
    "\r\n";

} // namespace

TEST(MailHeaderParser, HeaderLinesAndFields)
{
    struct Case {
        const char* name;
        std::vector<std::string> blocks;
        std::string field;  // which result
        std::string value;
    };
    const Case cases[] = {
        {"fold drops CR LF and one blank", {"Subject: Hello\r\n World\r\n\r\n"}, "subject", "HelloWorld"},
        {"fold after a comma", {"To: a@x.org,\r\n\tb@x.org\r\n\r\n"}, "to", "a@x.org,b@x.org"},
        {"last To wins", {"To: a@x.org\r\nTo: b@x.org\r\n\r\n"}, "to", "b@x.org"},
        {"two leading blanks keep one", {"Subject:  x\r\n\r\n"}, "subject", " x"},
        {"a leading tab is kept", {"Subject:\tx\r\n\r\n"}, "subject", "\tx"},
        {"names without regard to case", {"subject: lower\r\n\r\n"}, "subject", "lower"},
        {"a blank before the colon is another name", {"Subject : x\r\n\r\n"}, "subject", ""},
        {"missing To is empty", {"Subject: x\r\n\r\n"}, "to", ""},
        {"RFC 2047 subject", {"Subject: =?UTF-8?B?6KaL56mN5pu4?=\r\n\r\n"}, "subject", "見積書"},
        {"encoded display name with a comma is quoted",
         {"Cc: =?UTF-8?B?U21pdGgsIEpvaG4=?= <j@x.org>\r\n\r\n"}, "cc", "\"Smith, John\" <j@x.org>"},
        {"line without a colon is skipped", {"garbage\r\nSubject: ok\r\n\r\n"}, "subject", "ok"},
        {"bare LF ends lines too", {"Subject: a\nTo: b@x.org\n\nbody: no\n"}, "to", "b@x.org"},
        {"body after the blank line is never read", {"Subject: a\r\n\r\nSubject: b\r\n"}, "subject", "a"},
        {"later blocks only after the end", {"Subject: a\r\n", "To: t@x.org\r\n\r\n", "Cc: c@x.org\r\n"}, "cc", ""},
        {"header split across blocks is one line", {"Subj", "ect: He", "llo\r", "\n", " World\r\n\r\n"}, "subject",
         "HelloWorld"},
    };
    for (const Case& c : cases) {
        MailHeaderParser parser;
        for (const std::string& block : c.blocks)
            parser.parse(std::string_view(block));
        const MAIL::String& value = c.field == "subject" ? parser.getSubject()
                                    : c.field == "to"    ? parser.getTo()
                                                         : parser.getCc();
        EXPECT_EQ(value.view(), c.value) << c.name;
        EXPECT_NE(value.getText(), nullptr) << c.name;
    }
}

TEST(MailHeaderParser, ContentTypeMultipartAndBoundary)
{
    struct Case {
        const char* name;
        const char* value;
        bool multipart;
        int kind;
        const char* boundary;
    };
    const Case cases[] = {
        {"quoted boundary", "multipart/mixed; boundary=\"b1\"", true, 1, "b1"},
        {"bare boundary, as curl writes it", "multipart/mixed; boundary=------------------------d259b5571999f08d",
         true, 1, "------------------------d259b5571999f08d"},
        {"bare boundary ends at a blank", "multipart/alternative; boundary=b2 ; x=1", true, 2, "b2"},
        {"quoted boundary may hold blanks", "multipart/mixed; boundary=\"simple boundary\"", true, 1,
         "simple boundary"},
        {"parameter name without regard to case", "multipart/parallel; BOUNDARY=\"b3\"", true, 3, "b3"},
        {"media type without regard to case", "Multipart/Digest; boundary=\"b4\"", true, 4, "b4"},
        {"unknown subtype keeps the kind", "multipart/related; boundary=\"b5\"", true, -1, "b5"},
        {"not multipart", "text/plain; charset=utf-8", false, -1, ""},
        {"boundary= in another parameter is no boundary", "multipart/mixed; xboundary=\"no\"", true, 1, ""},
    };
    for (const Case& c : cases) {
        MailHeaderParser parser;
        parser.parse(std::string("Content-Type: ") + c.value + "\r\n\r\n");
        EXPECT_EQ(parser.isMultipart(), c.multipart) << c.name;
        EXPECT_EQ(parser.getMultipartKind(), c.kind) << c.name;
        EXPECT_EQ(parser.getBoundary().view(), c.boundary) << c.name;
        EXPECT_EQ(parser.getContentType().view(), c.value) << c.name;
    }
}

TEST(MailHeaderParser, SecurityState)
{
    struct Case {
        const char* name;
        const char* header;
        bool irm;
        bool smime;
    };
    const Case cases[] = {
        {"plain mail", "Content-Type: text/plain\r\n", false, false},
        {"IRM in any case", "content-class: RPMsg.Message\r\n", true, false},
        {"IRM needs the whole value", "content-class: rpmsg.message.x\r\n", false, false},
        {"enveloped S/MIME", "Content-Type: application/pkcs7-mime; smime-type=enveloped-data; name=smime.p7m\r\n",
         false, true},
        {"S/MIME is case-sensitive", "Content-Type: application/pkcs7-mime; name=SMIME.P7M\r\n", false, false},
        {"opaque-signed is readable by anyone",
         "Content-Type: application/pkcs7-mime; smime-type=signed-data; name=smime.p7m\r\n", false, false},
        {"certs-only", "Content-Type: application/pkcs7-mime; smime-type=\"certs-only\"; name=smime.p7c\r\n", false,
         false},
        {"compressed", "Content-Type: application/pkcs7-mime; smime-type=compressed-data; name=smime.p7z\r\n", false,
         false},
        {"both", "content-class: rpmsg.message\r\nContent-Type: application/x-pkcs7-mime; name=smime.p7m\r\n", true,
         true},
    };
    const char* summaries[2][2] = {{"IRM unprotected,S/MIME unencrypted", "IRM unprotected,S/MIME encrypted"},
                                   {"IRM protected,S/MIME unencrypted", "IRM protected,S/MIME encrypted"}};
    for (const Case& c : cases) {
        MailHeaderParser parser;
        parser.parse(std::string(c.header) + "\r\n");
        EXPECT_EQ(parser.isIRMProtected(), c.irm) << c.name;
        EXPECT_EQ(parser.isSMIMEEncrypted(), c.smime) << c.name;
        MAIL::String summary;
        EXPECT_EQ(parser.getSecuritySummary(summary), 2);
        EXPECT_EQ(summary.view(), summaries[c.irm][c.smime]) << c.name;
    }
}

TEST(MailHeaderParser, AnySplitOfAHeaderBlockGivesTheSameResults)
{
    const std::string whole = parseBlocks({RealHeader});
    EXPECT_NE(whole.find("to=\"Bob\" <bob@example.net>,carol@example.net\n"), std::string::npos) << whole;
    EXPECT_NE(whole.find("subject=見積書あいう\n"), std::string::npos) << whole;
    EXPECT_NE(whole.find("boundary=----=_Part_0_1\n"), std::string::npos) << whole;
    for (std::size_t cut = 0; cut <= RealHeader.size(); ++cut)
        ASSERT_EQ(parseBlocks({RealHeader.substr(0, cut), RealHeader.substr(cut)}), whole) << "cut at " << cut;
    std::vector<std::string> bytes;
    for (char c : RealHeader)
        bytes.emplace_back(1, c);
    EXPECT_EQ(parseBlocks(bytes), whole);
}

TEST(MailHeaderParser, AnySplitOfAWholeMailGivesTheSameResults)
{
    const std::string mail = pelorus::test::readFile(MESSAGE_TEST_DATA "/python-nonascii.eml");
    ASSERT_FALSE(mail.empty());
    const std::string whole = parseBlocks({mail});
    EXPECT_NE(whole.find("subject=Python non-ASCII names: 見積書\n"), std::string::npos) << whole;
    for (std::size_t cut = 0; cut <= mail.size(); ++cut)
        ASSERT_EQ(parseBlocks({mail.substr(0, cut), mail.substr(cut)}), whole) << "cut at " << cut;
    std::vector<std::string> bytes;
    for (char c : mail)
        bytes.emplace_back(1, c);
    EXPECT_EQ(parseBlocks(bytes), whole);
}

TEST(MailHeaderParser, StopsAtTheBlankLineAndKeepsNoBody)
{
    MailHeaderParser parser;
    const std::string first = "Subject: s\r\nTo: a@x.org\r\n\r\nbody line\r\n";
    EXPECT_EQ(parser.parse(std::string_view(first)), first.find("body"));
    EXPECT_TRUE(parser.isHeaderEnded());
    EXPECT_EQ(parser.parse(std::string_view("Cc: late@x.org\r\n\r\n")), 0u);
    EXPECT_EQ(parser.getCc().view(), "");
    ASSERT_EQ(parser.getTexts().getLength(), 1);
    const auto* kept = dynamic_cast<const MAIL::String*>(parser.getTexts().getHead()->getElement());
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->view(), "Subject: s\r\nTo: a@x.org\r\n\r\n");

    MailHeaderParser blank;
    blank.parse("\r\n");
    EXPECT_TRUE(blank.isHeaderEnded());
    EXPECT_EQ(blank.getHeaders().getLength(), 0);

    parser.reset();
    EXPECT_FALSE(parser.isHeaderEnded());
    EXPECT_EQ(parser.getSubject().view(), "");
    EXPECT_EQ(parser.getHeaders().getLength(), 0);
    EXPECT_EQ(parser.getTexts().getLength(), 0);
    EXPECT_EQ(parser.getMultipartKind(), -1);
    parser.parse("Subject: next\r\n\r\n");
    EXPECT_EQ(parser.getSubject().view(), "next");
}

TEST(MailHeaderParser, LongLinesAreKeptWholeUpTo64KiB)
{
    std::string to = "To: ";
    for (int i = 0; i < 30; ++i)
        to += (i > 0 ? ",\r\n " : "") + std::string("recipient") + std::to_string(i) + "@department.example.org";
    ASSERT_GT(to.size(), 1023u);
    MailHeaderParser parser;
    parser.parse(to + "\r\nSubject: after\r\n\r\n");
    EXPECT_NE(parser.getTo().view().find("recipient29@department.example.org"), std::string_view::npos);
    EXPECT_EQ(parser.getSubject().view(), "after");

    // Past the limit the rest of the line is dropped, never read as a header.
    const std::string huge = "X-Long: " + std::string(70000, 'a') + "Subject: injected\r\nSubject: real\r\n\r\n";
    MailHeaderParser cut;
    cut.parse(std::string_view(huge));
    EXPECT_EQ(cut.getSubject().view(), "real");
    ASSERT_EQ(cut.getHeaders().getLength(), 2);
    const auto* first = dynamic_cast<const MAIL::MailHeader*>(cut.getHeaders().getHead()->getElement());
    EXPECT_EQ(first->getValue().getLength(), static_cast<int>(MailHeaderParser::MaxLineLength - 8));
}

TEST(MailHeaderParser, LogLinesAndDump)
{
    pelorus::test::clearMessageLog();
    MailHeaderParser parser;
    parser.parse("Subject: Hello\r\nnocolon\r\n\r\n");
    parser.parse("later");
    const std::string log = pelorus::test::messageLog();
    for (const char* line : {"TRACE: MailHeaderParser#parse,1,headers=[Subject: Hello\r\nnocolon\r\n\r\n]",
                             "TRACE: MailHeaderParser#parse,1,Parsed [Subject]:[Hello]\n",
                             "TRACE: MailHeaderParser#parse,1,No separator ':'",
                             "TRACE: MailHeaderParser#parse,1,Already end of Header"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\nin:\n" << log;

    pelorus::test::DiagnosticsCapture capture;
    parser.getHeaders().dump();
    EXPECT_EQ(capture.take(), "HttpHeader#dump Subject: Hello\n");
}
