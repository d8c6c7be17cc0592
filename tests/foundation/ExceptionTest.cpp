#include "foundation/Exception.h"

#include "support/CaptureStdout.h"

#include <gtest/gtest.h>

#include <string>

using MAIL::Exception;
using pelorus::test::DiagnosticsCapture;

TEST(Exception, DumpsMessageAndOnlyANonZeroCode)
{
    {
        DiagnosticsCapture out;
        Exception(0, "plain %s", "failure").dump();
        EXPECT_EQ(out.take(), "plain failure\n");
    }
    {
        DiagnosticsCapture out;
        Exception(-13, "String#String,1,Failed to allocate memory").dump();
        EXPECT_EQ(out.take(), "String#String,1,Failed to allocate memory\nCode:-13\n");
    }
}

TEST(Exception, CutsLongMessagesAt2047BytesAndCopiesWhole)
{
    const std::string longText(5000, 'x');
    Exception original(7, "%s", longText.c_str());
    EXPECT_EQ(std::string(original.getMessage()), std::string(2047, 'x'));
    Exception copy = original;
    EXPECT_STREQ(copy.getMessage(), original.getMessage());
    EXPECT_EQ(copy.getCode(), 7);
}

TEST(Exception, DumpIsSilentWhenDiagnosticsAreOff)
{
    testing::internal::CaptureStdout();
    Exception(1, "secret address a@b.example").dump();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}
