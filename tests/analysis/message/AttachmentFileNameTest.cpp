#include "analysis/message/AttachmentFileName.h"

#include <gtest/gtest.h>

#include <string>

TEST(AttachmentFileName, UntrustedNamesStayInsideTheFolder)
{
    struct Case {
        const char* name;
        std::string decoded;
        std::string fileName;
    };
    const Case cases[] = {
        {"plain", "report.pdf", "report.pdf"},
        {"separators", "../../etc/passwd.zip", "___.._etc_passwd.zip"},
        {"backslashes", "..\\..\\x.docx", "___.._x.docx"},
        {"leading dots", "..hidden.xls", "__hidden.xls"},
        {"dot dot", "..", "attachment"},
        {"dot", ".", "attachment"},
        {"empty", "", "attachment"},
        {"extension only", ".pdf", "attachment.pdf"},
        {"control characters", "a\tb\x01" "c.pdf", "a_b_c.pdf"},
        {"blanks around", "  x.pdf  ", "x.pdf"},
        {"extension past 16 bytes is none", "a.abcdefghijklmnopq", "a.abcdefghijklmnopq"},
        {"trailing dot is no extension", "a.", "a."},
    };
    for (const Case& c : cases) {
        const AttachmentFileName name(c.decoded);
        EXPECT_EQ(name.candidate(1, 20).value_or("<none>"), c.fileName) << c.name;
    }
}

TEST(AttachmentFileName, CutsKeepTheExtensionAndWholeCharacters)
{
    // 200 three-byte characters: 600 bytes before the extension.
    std::string stem;
    for (int i = 0; i < 200; ++i)
        stem += "見";
    const AttachmentFileName name(stem + ".pdf");
    const std::string cut = name.candidate(1, 20).value();
    EXPECT_LE(cut.size(), AttachmentFileName::MaxFileName);
    EXPECT_TRUE(cut.ends_with(".pdf"));
    EXPECT_EQ((cut.size() - 4) % 3, 0u) << "never inside a UTF-8 sequence";

    const std::string deep = name.candidate(1, 1000).value();
    EXPECT_LE(1000 + 1 + deep.size(), AttachmentFileName::MaxPath);
    EXPECT_TRUE(deep.ends_with(".pdf"));

    EXPECT_EQ(name.candidate(1, 1020), std::nullopt) << "no room for a stem";
    EXPECT_EQ(AttachmentFileName("a.pdf").candidate(3, 20).value(), "a (3).pdf");
    EXPECT_EQ(AttachmentFileName("a").candidate(2, 20).value(), "a (2)");

    EXPECT_EQ(cutUtf8("aé", 2), "a");
    EXPECT_EQ(cutUtf8("aé", 3), "aé");
}
