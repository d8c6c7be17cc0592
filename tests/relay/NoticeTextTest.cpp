// What the user reads of a mail in a notice: every character that could
// break a line, act on a terminal or reorder the text is shown escaped, and
// a subject decoded from the mail cannot add a line to a notice.
#include "RelayTestSupport.h"

#include "foundation/VisibleText.h"
#include "relay/SessionText.h"

#include <gtest/gtest.h>

using namespace pelorus::test;
using MAIL::visibleText;

TEST(VisibleText, EscapesControlsBidiAndSeparatorsOnly)
{
    struct Case {
        const char* name;
        std::string text;
        bool keepLineBreaks;
        std::string shown;
    } cases[] = {
        {"plain text and UTF-8", "Caf\xC3\xA9 \xE6\x97\xA5", false, "Caf\xC3\xA9 \xE6\x97\xA5"},
        {"CR LF, NUL, ESC, tab", std::string("a\r\nb\0c\x1b[2J\t", 11), false, "a\\x0D\\x0Ab\\x00c\\x1B[2J\\x09"},
        {"CR LF kept, lone ones not", "a\r\nb\rc\nd", true, "a\nb\\x0Dc\\x0Ad"},
        {"DEL and C1 (CSI) by code point", "\x7f\xC2\x9B" "2J", false, "\\x7F\\x9B2J"},
        {"bidi override and isolate", "x\xE2\x80\xAEy\xE2\x81\xA6z", false, "x\\u{202E}y\\u{2066}z"},
        {"direction marks", "\xD8\x9C\xE2\x80\x8E\xE2\x80\x8F", false, "\\u{061C}\\u{200E}\\u{200F}"},
        {"line and paragraph separators", "a\xE2\x80\xA8" "b\xE2\x80\xA9", true, "a\\u{2028}b\\u{2029}"},
        {"bytes that are not UTF-8", "\xFF\xC0\xAF\xED\xA0\x80", false, "\\xFF\\xC0\\xAF\\xED\\xA0\\x80"},
        {"a character cut at the end", "ok\xE2\x82", false, "ok\\xE2\\x82"},
    };
    for (const Case& c : cases) {
        const std::string shown = visibleText(c.text, c.keepLineBreaks);
        EXPECT_EQ(shown, c.shown) << c.name;
        if (!c.keepLineBreaks)  // as a sink escapes a notice that holds it
            EXPECT_EQ(visibleText(shown, true), shown) << c.name << ": escaped twice";
    }
}

TEST(VisibleText, ABalloonSubjectIsCutFirstThenEscaped)
{
    EXPECT_EQ(MAIL::subjectNotice("Sent a mail:", MAIL::balloonSubject("a\r\nb\xE2\x80\xAE", 210)),
              "Sent a mail:\r\n'a\\x0D\\x0Ab\\u{202E}'");
    // 199 letters and a CR LF: the cut keeps the CR, whose escape stays whole.
    const std::string subject = std::string(199, 'x') + "\r\n" + std::string(20, 'y');
    EXPECT_EQ(MAIL::balloonSubject(subject, 210), std::string(199, 'x') + "\\x0D...");
}

// The relay end to end, with Python's smtplib as the client: a subject
// decoded from an encoded word with CR LF and a right-to-left override
// reaches each balloon escaped.
TEST(VisibleText, NoBalloonOfTheRelayCarriesADecodedLineBreak)
{
    SmtpSink sink;
    ProxyRunner proxy(sink.port());
    const ProgramResult sent = runProgram(
        {"/usr/bin/python3", "-c",
         "import smtplib,sys\n"
         "with smtplib.SMTP('127.0.0.1'," + std::to_string(proxy.port()) + ",timeout=60) as s:\n"
         "  s.sendmail('ann@corp.example',['bob@corp.example'],sys.stdin.buffer.read())\n"},
        "Subject: =?utf-8?q?a=0D=0AFake_line_=E2=80=AEtxt.exe?=\r\n\r\nhello\r\n");
    ASSERT_EQ(sent.status, 0) << sent.errors;
    ASSERT_TRUE(proxy.notices().hasBalloonContaining("Sent a mail:"));
    for (const MAIL::Balloon& balloon : proxy.notices().balloons()) {
        if (balloon.text.find("Fake") == std::string::npos)
            continue;
        EXPECT_NE(balloon.text.find("'a\\x0D\\x0AFake line \\u{202E}txt.exe'"), std::string::npos) << balloon.text;
        EXPECT_EQ(balloon.text.find("\xE2\x80\xAE"), std::string::npos) << balloon.text;
        EXPECT_EQ(balloon.text.find("\r\nFake"), std::string::npos) << balloon.text;
    }
}
