#include "analysis/protection/ProtectionChecker.h"

#include "OfficeFixtures.h"
#include "Tools.h"
#include "support/CaptureStdout.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <optional>

using MAIL::ProtectionChecker;
using MAIL::ProtectionKind;
using pelorus::test::TempDir;
using pelorus::test::Transform;

namespace {

struct Verdict {
    bool isProtected = false;
    ProtectionKind kind = 0;
    std::string output; // what went to standard output
    bool operator==(const Verdict&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Verdict& v)
{
    return out << (v.isProtected ? "protected" : "not protected") << ", kind " << v.kind << ", output \"" << v.output << "\"";
}

Verdict judge(const std::string& path)
{
    pelorus::test::DiagnosticsCapture capture;
    Verdict verdict;
    verdict.isProtected = ProtectionChecker().check(path.c_str(), verdict.kind);
    verdict.output = capture.take();
    return verdict;
}

} // namespace

TEST(ProtectionChecker, DispatchesOnTheExtensionAndReportsFailures)
{
    const std::string encryptedZip = std::string("PK\x03\x04\x14\x00\x01\x00", 8) + std::string(22, '\0') +
                                     std::string("PK\x01\x02", 4) + std::string(4, '\0') + std::string("\x01\x00", 2) +
                                     std::string(36, '\0') + std::string("PK\x05\x06", 4) + std::string(18, '\0');
    struct Case {
        const char* file;
        std::optional<std::string> content; // none: the file is not there
        bool isProtected;
        ProtectionKind kind;
        bool failureLine; // "Access error:0 <path>"
    };
    const Case cases[] = {
        {"report.docx", pelorus::test::officePackage(), false, 0, false},
        {"irm.docx", irmContainer(4, Transform::Package), true, MAIL::ProtectionIRM, false},
        {"irm-and-password.DOCX", irmContainer(3, Transform::Package, true), true, MAIL::ProtectionPassword, false},
        {"reserved.doc", pelorus::test::wordDocument(0xA5EC, 0x08), true, MAIL::ProtectionPassword, false},
        {"locked.Xls", pelorus::test::workbook(0x2F), true, MAIL::ProtectionPassword, false},
        {"slides.pps", pelorus::test::presentation(true), true, MAIL::ProtectionPassword, false},
        {"show.ppsm", pelorus::test::encryptedPackage(3), true, MAIL::ProtectionPassword, false},
        {"irm.ppsm", irmContainer(3, Transform::Package), true, MAIL::ProtectionIRM, false},
        {"paper.xps", irmContainer(3, Transform::Package, true), true, MAIL::ProtectionIRM, false},
        {"missing.xlsx", std::nullopt, false, 0, false},
        {"secret.PDF", std::string("%PDF-1.4\ntrailer << /Encrypt 5 0 R >>\n"), true, MAIL::ProtectionPassword, false},
        {"plain.pdf", std::string("%PDF-1.4\ntrailer << /Root 1 0 R >>\n"), false, 0, false},
        {"fake.pdf", std::string("<html>/Encrypt</html>"), false, 0, true},
        {"missing.pdf", std::nullopt, false, 0, true},
        {"secret.zip", encryptedZip, true, MAIL::ProtectionPassword, false},
        {"empty.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'), false, 0, true},
        {"missing.zip", std::nullopt, false, 0, true},
        {"secret.pdf.txt", std::string("%PDF-1.4 /Encrypt"), false, 0, false},
        {"noextension", pelorus::test::wordDocument(0xA5EC, 0x01), false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TempDir dir;
        const std::string path = dir / c.file;
        if (c.content)
            pelorus::test::writeFile(path, *c.content);
        EXPECT_EQ(judge(path), (Verdict{c.isProtected, c.kind, c.failureLine ? "Access error:0 " + path + "\n" : ""}));
    }
}
