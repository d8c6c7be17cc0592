#include "foundation/Guid.h"

#include <gtest/gtest.h>

#include <regex>

TEST(Guid, BracedUpperCaseVersion4AndNeverRepeated)
{
    MAIL::Guid guid;
    MAIL::String first, second;
    ASSERT_TRUE(guid.generate(first));
    ASSERT_TRUE(guid.generate(second));
    const std::regex form(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\})");
    EXPECT_EQ(first.getLength(), 38);
    EXPECT_TRUE(std::regex_match(first.getText(), form)) << first.getText();
    EXPECT_TRUE(std::regex_match(second.getText(), form)) << second.getText();
    EXPECT_STRNE(first.getText(), second.getText());
}
