#include "foundation/StringTokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TokenCase {
    const char* name;
    const char* text;
    char delimiter;
    unsigned char quoteMode;
    std::vector<std::string> tokens;
};

void PrintTo(const TokenCase& c, std::ostream* os) { *os << c.name; }

std::vector<std::string> tokenize(const TokenCase& c)
{
    MAIL::StringTokenizer tokenizer(c.text, c.delimiter, c.quoteMode);
    std::vector<std::string> tokens;
    while (tokenizer.hasMoreTokens()) {
        MAIL::String token;
        tokenizer.nextToken(token);
        tokens.emplace_back(token.getText());
    }
    return tokens;
}

class Tokenizer : public testing::TestWithParam<TokenCase> {};

} // namespace

TEST_P(Tokenizer, SplitsAsTheListsAndRowsNeed)
{
    EXPECT_EQ(tokenize(GetParam()), GetParam().tokens);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Tokenizer,
    testing::Values(
        TokenCase{"TwoPlain", "a;b", ';', 1, {"a", "b"}},
        TokenCase{"TrailingDelimiterGivesEmptyToken", "a;b;", ';', 1, {"a", "b", ""}},
        TokenCase{"LeadingAndDoubledDelimitersSkipped", ";;a;;b", ';', 1, {"a", "b"}},
        TokenCase{"QuotedDelimiterStaysAndQuotesGo", "\"x;y\";z", ';', 1, {"x;y", "z"}},
        TokenCase{"DoubledQuoteDropped", "a\"\"b", ';', 1, {"ab"}},
        TokenCase{"DisplayNameWithCommaKeepsQuotes", "\"Doe, John\" <j@x.com>, k@y.com", ',', 0,
                  {"\"Doe, John\" <j@x.com>", " k@y.com"}},
        TokenCase{"MoreThanTwoQuotesStopSplitting", "\"a\"b\",c", ',', 0, {"\"a\"b\",c"}},
        TokenCase{"EmptyText", "", ';', 1, {}}),
    [](const testing::TestParamInfo<TokenCase>& info) { return info.param.name; });

TEST(TokenizerCursor, ExhaustedScanGivesNullCursorAndEmptyToken)
{
    MAIL::StringTokenizer tokenizer("a", ';', 1);
    MAIL::String token;
    EXPECT_NE(tokenizer.nextToken(token), nullptr);
    EXPECT_STREQ(token.getText(), "a");
    EXPECT_FALSE(tokenizer.hasMoreTokens());
    EXPECT_EQ(tokenizer.nextToken(token), nullptr);
    EXPECT_STREQ(token.getText(), "");

    MAIL::StringTokenizer none(nullptr, ';', 1);
    EXPECT_FALSE(none.hasMoreTokens());
}
