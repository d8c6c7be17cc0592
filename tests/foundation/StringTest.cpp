#include "foundation/String.h"
#include "foundation/StringBuffer.h"

#include <gtest/gtest.h>

using MAIL::String;

TEST(String, NullAndEmptyDiffer)
{
    String none(static_cast<const char*>(nullptr));
    EXPECT_EQ(none.getText(), nullptr);
    EXPECT_EQ(none.getLength(), 0);
    EXPECT_FALSE(none.startsWith(""));

    String empty("");
    ASSERT_NE(empty.getText(), nullptr);
    EXPECT_EQ(empty.getLength(), 0);
    EXPECT_TRUE(empty.startsWith(""));

    EXPECT_EQ(String(static_cast<const String*>(nullptr)).getText(), nullptr);
    EXPECT_EQ(String(&none).getText(), nullptr);
}

TEST(String, AssignmentCopiesAndGivesEmptyForNoText)
{
    String a("alpha");
    String b;
    b = a;
    EXPECT_STREQ(b.getText(), "alpha");
    b = b;
    EXPECT_STREQ(b.getText(), "alpha");
    String none;
    b = none;
    ASSERT_NE(b.getText(), nullptr) << "a source without text yields an empty text";
    EXPECT_EQ(b.getLength(), 0);
}

TEST(String, StartsWithIsByteExact)
{
    String s("RCPT TO:<a@b>");
    EXPECT_TRUE(s.startsWith("RCPT"));
    EXPECT_FALSE(s.startsWith("rcpt"));
    EXPECT_FALSE(s.startsWith("RCPT TO:<a@b> and more"));
    EXPECT_FALSE(s.startsWith(nullptr));
}

TEST(String, TrimRemovesBlanksTabsAndLineEnds)
{
    struct Case {
        const char* in;
        const char* out;
    };
    for (const Case& c : {Case{"  \r\n", ""}, Case{" a b\t", "a b"}, Case{"\r\nx\r\n", "x"}, Case{"x", "x"}}) {
        String s(c.in);
        EXPECT_EQ(s.trim(), static_cast<int>(std::string(c.out).size())) << c.in;
        EXPECT_STREQ(s.getText(), c.out);
        EXPECT_STREQ(MAIL::trimText(c.in).get(), c.out);
    }
    String none;
    EXPECT_EQ(none.trim(), 0);
    EXPECT_EQ(none.getText(), nullptr);
    EXPECT_EQ(MAIL::trimText(nullptr), nullptr);
}

TEST(String, CutAtLineEndNeedsCrLf)
{
    String s("abc\r\ndef");
    EXPECT_EQ(s.cutAtLineEnd(), 3);
    EXPECT_STREQ(s.getText(), "abc");
    String lf("abc\n");
    EXPECT_EQ(lf.cutAtLineEnd(), 0);
    EXPECT_STREQ(lf.getText(), "abc\n");
}

TEST(String, ReplaceCharWorksOnCharactersAndCutsAtNul)
{
    String s("a\xC3\xA9" "b\xC3\xA9");  // aébé
    EXPECT_EQ(s.replaceChar(L'\u00E9', L'e'), 2);
    EXPECT_STREQ(s.getText(), "aebe");
    String cut("key=value=x");
    EXPECT_EQ(cut.replaceChar(L'=', L'\0'), 2);
    EXPECT_STREQ(cut.getText(), "key");
}

TEST(String, EndsWithIsByteExact)
{
    EXPECT_TRUE(MAIL::endsWith("mail.example.com", ".com"));
    EXPECT_TRUE(MAIL::endsWith("x", ""));
    EXPECT_FALSE(MAIL::endsWith("com", ".com"));
    EXPECT_FALSE(MAIL::endsWith(nullptr, ""));
    EXPECT_FALSE(MAIL::endsWith("x", nullptr));
}

TEST(StringBuffer, GrowsByItsIncrementAndResetKeepsCapacity)
{
    MAIL::StringBuffer buffer(2, 3);
    EXPECT_TRUE(buffer.append("abcd"));
    EXPECT_STREQ(buffer.getBuffer(), "abcd");
    EXPECT_EQ(buffer.getCapacity(), 5);
    EXPECT_TRUE(buffer.append(static_cast<const char*>(nullptr)));
    buffer.reset();
    EXPECT_EQ(buffer.getLength(), 0);
    EXPECT_STREQ(buffer.getBuffer(), "");
    EXPECT_EQ(buffer.getCapacity(), 5);
}
