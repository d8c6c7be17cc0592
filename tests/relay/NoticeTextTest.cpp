// What the user reads of a mail in a notice: every character that could
// break a line, act on a terminal or reorder the text is shown escaped.
#include "foundation/VisibleText.h"
#include "relay/SessionText.h"

#include <gtest/gtest.h>

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
