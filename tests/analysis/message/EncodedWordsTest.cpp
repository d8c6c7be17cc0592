#include "analysis/message/EncodedWords.h"
#include "analysis/message/HeaderFields.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using MAIL::decodeAddressList;
using MAIL::decodeWords;

TEST(DecodeWords, EncodedWordsInAnyCharset)
{
    struct Case {
        const char* name;
        const char* input;
        const char* output;
    };
    const Case cases[] = {
        {"UTF-8 B", "=?UTF-8?B?44GC44GE?=", "あい"},
        {"lower-case charset and encoding", "=?utf-8?b?44GC44GE?=", "あい"},
        {"blank between two words is kept", "=?UTF-8?B?44GC?= =?UTF-8?B?44GE?=", "あ い"},
        {"Shift_JIS as CP932", "=?Shift_JIS?B?gqA=?=", "あ"},
        {"ISO-2022-JP after plain text", "Re: =?ISO-2022-JP?B?GyRCJCIkJCQmGyhC?=", "Re: あいう"},
        {"ISO-8859-1 Q with underscore", "=?ISO-8859-1?Q?Caf=E9_cr=E8me?=", "Café crème"},
        {"Windows-1252 Q", "=?windows-1252?Q?=80_5?=", "€ 5"},
        {"KOI8-R B", "=?KOI8-R?B?8NLJ18XU?=", "Привет"},
        {"GB2312 B", "=?GB2312?B?xOO6ww==?=", "你好"},
        {"Big5 B", "=?Big5?B?p0Gmbg==?=", "你好"},
        {"RFC 2231 language suffix", "=?UTF-8*ja?B?44GC?=", "あ"},
        {"invalid UTF-8 becomes U+FFFD, the rest kept", "=?UTF-8?B?/2E=?=", "\xEF\xBF\xBD" "a"},
        {"decoded NUL is dropped", "=?UTF-8?B?YQBi?=", "ab"},
        {"unknown charset copied unchanged", "x =?x-no-such-charset?B?44GC?= y", "x =?x-no-such-charset?B?44GC?= y"},
        {"unknown encoding copied unchanged", "=?UTF-8?X?44GC?=", "=?UTF-8?X?44GC?="},
        {"word without its closing copied unchanged", "Hi =?UTF-8?B?44GC", "Hi =?UTF-8?B?44GC"},
        {"a later word still decodes", "=?UTF-8?B?44GC =?UTF-8?B?44GE?=", "=?UTF-8?B?44GC い"},
        {"JIS 2231 form: the rest goes through the JIS conversion too, which drops '='",
         "iso-2022-jp''%1B%24B%24%22%1B%28B.pdf; x=1", "あ.pdf; x1"},
        {"plain text untouched", "Hello, world", "Hello, world"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decodeWords(std::string_view(c.input)), c.output) << c.name;
        const auto array = decodeWords(c.input);
        ASSERT_NE(array, nullptr);
        EXPECT_STREQ(array.get(), c.output) << c.name;
    }
    EXPECT_EQ(decodeWords(static_cast<const char*>(nullptr)), nullptr);
}

TEST(DecodeWords, AddressListsKeepOneEntryPerAddress)
{
    struct Case {
        const char* name;
        const char* input;
        const char* output;
    };
    const Case cases[] = {
        {"comma in a decoded name is quoted", "=?UTF-8?B?U21pdGgsIEpvaG4=?= <j@example.org>, b@example.org",
         "\"Smith, John\" <j@example.org>, b@example.org"},
        {"quote in a decoded name becomes an apostrophe", "=?UTF-8?B?Qm9iICJUaGUgQm9zcyI=?= <b@example.org>",
         "\"Bob 'The Boss'\" <b@example.org>"},
        {"already inside quotes: not quoted twice", "\"=?UTF-8?B?U21pdGgsIEpvaG4=?=\" <j@example.org>",
         "\"Smith, John\" <j@example.org>"},
        {"a run of words is one name", "=?UTF-8?B?U21pdGgs?= =?UTF-8?B?IEpvaG4=?= <j@example.org>",
         "\"Smith,  John\" <j@example.org>"},
        {"name without comma or quote stays bare", "=?UTF-8?B?44GC44GE?= <a@example.org>", "あい <a@example.org>"},
        {"plain list untouched", "\"Doe, Jane\" <j@example.org>, x@example.org",
         "\"Doe, Jane\" <j@example.org>, x@example.org"},
        {"parenthesis in a decoded name is quoted", "=?UTF-8?Q?Boss_(x?= <a@example.org>, b@example.org",
         "\"Boss (x\" <a@example.org>, b@example.org"},
        {"backslash cannot escape the closing quote", "=?UTF-8?Q?x,\\?= <a@example.org>, b@example.org",
         "\"x,\\\\\" <a@example.org>, b@example.org"},
        {"inside a comment, parentheses are escaped", "a@example.org (=?UTF-8?Q?x)_(y?=), b@example.org",
         "a@example.org (x\\) \\(y), b@example.org"},
        {"an escaped word start is not decoded", "\"\\=?UTF-8?Q?x?=\" <a@example.org>",
         "\"\\=?UTF-8?Q?x?=\" <a@example.org>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decodeAddressList(c.input), c.output) << c.name;
}

TEST(HeaderFields, ParametersPlainQuotedAndRfc2231)
{
    struct Case {
        const char* name;
        const char* value;
        const char* attribute;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {"quoted", "attachment; filename=\"a b.pdf\"", "filename", "a b.pdf"},
        {"bare token", "attachment; filename=a.pdf", "filename", "a.pdf"},
        {"attribute without regard to case", "attachment; FileName=\"a.pdf\"", "filename", "a.pdf"},
        {"name is not filename", "application/pdf; filename=\"a.pdf\"", "name", std::nullopt},
        {"escaped quote", "x; name=\"say \\\"hi\\\".txt\"", "name", "say \"hi\".txt"},
        {"RFC 2047 inside quotes", "x; name=\"=?UTF-8?B?6KaL56mN5pu4LnBkZg==?=\"", "name", "見積書.pdf"},
        {"RFC 2231 single", "attachment; filename*=utf-8''%C3%9Cberblick.zip", "filename", "Überblick.zip"},
        {"RFC 2231 continuations out of order, mixed plain and encoded",
         "attachment; filename*1=\"_2024\"; filename*0*=utf-8''%E8%A6%8B; filename*2*=.pdf", "filename",
         "見_2024.pdf"},
        {"RFC 2231 preferred over plain", "x; name=\"fallback.pdf\"; name*=utf-8''real.pdf", "name", "real.pdf"},
        {"RFC 2231 keeps '+'", "x; name*=utf-8''a+b.pdf", "name", "a+b.pdf"},
        {"RFC 2231 in ISO-2022-JP", "x; name*0*=iso-2022-jp''%1B%24B8+%40Q%3Dq%1B%28B; name*1=.pdf", "name",
         "見積書.pdf"},
        {"RFC 2231 unknown charset left as written", "x; name*=x-nope''a%41.pdf", "name", "x-nope''a%41.pdf"},
        {"semicolon inside quotes", "x; name=\"a;b.pdf\"; size=3", "name", "a;b.pdf"},
        {"absent", "application/pdf", "name", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MAIL::parameterText(c.value, c.attribute), c.text) << c.name;
}
