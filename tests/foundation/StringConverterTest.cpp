#include "foundation/StringConverter.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

using MAIL::StringConverter;

TEST(StringConverter, NullOnlyFromNullInput)
{
    StringConverter c;
    EXPECT_EQ(c.toWideChar(nullptr), nullptr);
    EXPECT_EQ(c.toMultiByte(nullptr), nullptr);
    EXPECT_EQ(c.utf8ToMultiByte(nullptr), nullptr);
    EXPECT_EQ(c.jisToShiftJis(nullptr), nullptr);
    auto empty = c.toWideChar("");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], L'\0');
}

TEST(StringConverter, SystemCodePageIsUtf8WhateverTheLocale)
{
    StringConverter c;
    auto wide = c.toWideChar("Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x93\xA7");
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(std::wstring(wide.get()), L"Gr\u00FC\u00DFe \u20AC \U0001F4E7");
    auto back = c.toMultiByte(wide.get());
    EXPECT_STREQ(back.get(), "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x93\xA7");
}

TEST(StringConverter, InvalidBytesAreReplacedAndTheRestKept)
{
    StringConverter c;
    // A stray continuation byte, an overlong slash, a cut sequence at the end.
    auto cleaned = c.utf8ToMultiByte("a\x80" "b\xC0\xAF" "c\xE2\x82");
    EXPECT_STREQ(cleaned.get(), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD" "c\xEF\xBF\xBD");
    const wchar_t invalid[] = {L'x', static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000), L'y', 0};
    EXPECT_STREQ(c.toMultiByte(invalid).get(), "x\xEF\xBF\xBD\xEF\xBF\xBDy");
}

TEST(StringConverter, CodePage932AndNamedCharsets)
{
    StringConverter c;
    auto wide = c.toWideChar(StringConverter::ShiftJisCodePage, "\x88\x9F");  // 亜
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(std::wstring(wide.get()), L"\u4E9C");

    std::string out;
    EXPECT_TRUE(StringConverter::charsetToMultiByte("iso-8859-1", "caf\xE9", out));
    EXPECT_EQ(out, "caf\xC3\xA9");
    out.clear();
    EXPECT_TRUE(StringConverter::charsetToMultiByte("koi8-r", "\xF0\xD2\xC9\xD7\xC5\xD4", out));
    EXPECT_EQ(out, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");  // Привет
    out = "kept";
    EXPECT_FALSE(StringConverter::charsetToMultiByte("no-such-charset", "x", out));
    EXPECT_FALSE(StringConverter::charsetToMultiByte("UTF-8//TRANSLIT", "x", out));
    EXPECT_EQ(out, "kept");
    out.clear();
    // Bytes invalid in the charset are replaced, the rest kept.
    EXPECT_TRUE(StringConverter::charsetToMultiByte("shift_jis", "a\x88" "b", out));
    EXPECT_EQ(out.front(), 'a');
    EXPECT_NE(out.find("\xEF\xBF\xBD"), std::string::npos);
}

TEST(StringConverter, JisToShiftJis)
{
    StringConverter c;
    EXPECT_STREQ(c.jisToShiftJis("abc=def").get(), "abcdef");
    EXPECT_STREQ(c.jisToShiftJis("a\nb\r\nc").get(), "a\r\nb\r\nc");
    EXPECT_STREQ(c.jisToShiftJis("\nx").get(), "\r\nx");
    // ESC $ B, JIS 0x3021 (亜) and 0x2422 (あ), ESC ( B.
    EXPECT_STREQ(c.jisToShiftJis("\x1b$B0!$\"\x1b(Bz").get(), "\x88\x9F\x82\xA0z");
    // A lead byte without a partner in range is kept and the next byte read
    // on its own; the end of the text is never passed.
    EXPECT_STREQ(c.jisToShiftJis("\x1b$B0").get(), "0");
    EXPECT_STREQ(c.jisToShiftJis("\x1b$B0\n").get(), "0\r\n");
}
