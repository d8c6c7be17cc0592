#include "analysis/protection/PdfEncryptionCheck.h"

#include "Tools.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

using MAIL::PdfEncryptionCheck;
using pelorus::test::readFile;
using pelorus::test::TempDir;
using pelorus::test::writeFile;

namespace {

// A well-formed PDF of the given pages, each with a small content stream;
// text is put in the first page's content.
std::string makePdf(int pages, const std::string& text = "")
{
    std::vector<std::string> objects{"<< /Type /Catalog /Pages 2 0 R >>", ""};
    std::string kids;
    for (int p = 0; p < pages; ++p) {
        const int page = 3 + 2 * p;
        kids += std::to_string(page) + " 0 R ";
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " + std::to_string(page + 1) + " 0 R >>");
        const std::string content = "BT /F1 12 Tf 72 712 Td (Page " + std::to_string(p + 1) + (p == 0 ? text : "") + ") Tj ET";
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
    std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const std::size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

bool encrypted(const std::string& path) { return PdfEncryptionCheck(path.c_str()).isEncrypted(); }

int failureOf(const char* path)
{
    try {
        PdfEncryptionCheck check(path);
        return 0;
    } catch (int code) {
        return code;
    }
}

} // namespace

TEST(PdfEncryptionCheck, JudgesWhatQpdfWrites)
{
    if (!pelorus::test::haveTool("qpdf"))
        GTEST_SKIP() << "qpdf is not installed";
    TempDir dir;
    const std::string plain = dir / "plain.pdf";
    writeFile(plain, makePdf(40));
    struct Encryption {
        const char* name;
        std::vector<std::string> args;
    };
    const Encryption encryptions[] = {
        {"none", {}},
        {"RC4 40", {"--allow-weak-crypto", "--encrypt", "user", "owner", "40", "--"}},
        {"RC4 128", {"--allow-weak-crypto", "--encrypt", "user", "owner", "128", "--use-aes=n", "--"}},
        {"AES 128", {"--encrypt", "user", "owner", "128", "--use-aes=y", "--"}},
        {"AES 256", {"--encrypt", "user", "owner", "256", "--"}},
    };
    const std::vector<std::string> layouts[] = {{}, {"--linearize"}, {"--object-streams=generate"},
                                                {"--linearize", "--object-streams=generate"}};
    int n = 0;
    for (const Encryption& encryption : encryptions)
        for (const auto& layout : layouts) {
            const std::string out = dir / ("out" + std::to_string(++n) + ".pdf");
            std::vector<std::string> argv{"qpdf"};
            argv.insert(argv.end(), layout.begin(), layout.end());
            argv.insert(argv.end(), encryption.args.begin(), encryption.args.end());
            argv.insert(argv.end(), {plain, out});
            std::string output;
            ASSERT_EQ(pelorus::test::runTool(argv, &output), 0) << output;
            const bool isEncrypted = !encryption.args.empty();
            const std::string what = std::string(encryption.name) + (layout.empty() ? "" : " " + layout.front()) +
                                     (layout.size() > 1 ? " " + layout.back() : "");
            EXPECT_EQ(encrypted(out), isEncrypted) << what;
            if (isEncrypted && layout.size() == 1 && layout.front() == "--linearize") {
                // The case the startxref follow-up is for: the tail alone misses it.
                const std::string file = readFile(out);
                EXPECT_EQ(file.substr(file.size() - 1024).find("/Encrypt"), std::string::npos) << what;
            }
        }
}

TEST(PdfEncryptionCheck, LooksOnlyAtTheTailAndTheLastCrossReferenceSection)
{
    struct Case {
        const char* name;
        std::string content;
        bool encrypted;
    };
    std::string pointsToTrailer = makePdf(1);
    // A trailer with /Encrypt early in the file, where startxref points;
    // the tail holds no /Encrypt of its own.
    const std::string early = "trailer\n<< /Size 5 /Encrypt 9 0 R >>\n";
    const std::size_t earlyAt = pointsToTrailer.size();
    pointsToTrailer += early + "%" + std::string(3000, 'x') + "\nstartxref\n" + std::to_string(earlyAt) + "\n%%EOF\n";
    const Case cases[] = {
        {"trailer in the last bytes", "%PDF-1.7\n" + std::string(5000, ' ') + "trailer << /Encrypt 3 0 R >>\n%%EOF\n", true},
        {"/Encrypt far from the end", makePdf(60, " /Encrypt "), false},
        {"/Encrypt where startxref points", pointsToTrailer, true},
        {"/Encrypt beyond the 4096 bytes from startxref",
         "%PDF-1.7\nxref\n" + std::string(4200, ' ') + "/Encrypt" + std::string(2000, ' ') + "startxref\n9\n%%EOF\n", false},
        {"startxref past the end", "%PDF-1.7\n" + std::string(2000, ' ') + "startxref\n99999999\n%%EOF\n", false},
        {"startxref of absurd length", "%PDF-1.7\n" + std::string(2000, ' ') + "startxref\n" + std::string(40, '9') + "\n%%EOF\n", false},
        {"startxref without a number", "%PDF-1.7\n/Encrypt" + std::string(2000, ' ') + "startxref\n%%EOF\n", false},
        {"NUL bytes in the tail", "%PDF-1.7\n" + std::string(2000, '\0') + std::string("/Encrypt\0\0", 10), true},
        {"a small file", "%PDF-1.1 /Encrypt", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeFile(dir / "a.pdf", c.content);
        EXPECT_EQ(encrypted(dir / "a.pdf"), c.encrypted);
    }
}

TEST(PdfEncryptionCheck, FailuresAreCodes)
{
    TempDir dir;
    writeFile(dir / "text.pdf", "%PDX-1.4 /Encrypt");
    writeFile(dir / "short.pdf", "%PDF");
    EXPECT_EQ(failureOf(nullptr), PdfEncryptionCheck::NoPath);
    EXPECT_EQ(failureOf((dir / "missing.pdf").c_str()), PdfEncryptionCheck::Missing);
    EXPECT_EQ(failureOf(dir.path().c_str()), PdfEncryptionCheck::CannotOpen);
    EXPECT_EQ(failureOf((dir / "text.pdf").c_str()), PdfEncryptionCheck::NotPdf);
    EXPECT_EQ(failureOf((dir / "short.pdf").c_str()), PdfEncryptionCheck::NotPdf);
}
