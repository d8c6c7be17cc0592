#include "analysis/protection/ProtectionChecker.h"

#include "analysis/protection/ByteSource.h"
#include "analysis/protection/DataSpacesCheck.h"
#include "analysis/protection/FileExtension.h"
#include "analysis/protection/OfficeEncryptionCheck.h"
#include "analysis/protection/OfficeExtensions.h"
#include "analysis/protection/PdfEncryptionCheck.h"
#include "analysis/protection/ZipEncryptionCheck.h"
#include "foundation/Diagnostics.h"

namespace MAIL {

namespace {

// The Office test: IRM first, then password, which wins when both show.
// Both read the one opened file.
bool officeTest(const char* path, ProtectionKind& kind)
{
    FileSource source;
    if (source.open(path) != FileSource::Opened::Yes)
        return false;
    bool irm = false;
    if (DataSpacesCheck().check(source, path) == DataSpacesCheck::Irm) {
        irm = true;
        kind = ProtectionIRM;
    }
    const bool password = OfficeEncryptionCheck().check(source, path);
    if (password)
        kind = ProtectionPassword;
    return irm || password;
}

bool pdfTest(const char* path, ProtectionKind& kind)
{
    if (!PdfEncryptionCheck(path).isEncrypted())
        return false;
    kind = ProtectionPassword;
    return true;
}

bool zipTest(const char* path, ProtectionKind& kind)
{
    ZipEncryptionCheck zip;
    if (zip.load(path) != 0)
        return false;
    zip.walk();
    const bool all = zip.isAllEncrypted();
    zip.release();
    if (all)
        kind = ProtectionPassword;
    return all;
}

using Test = bool (*)(const char*, ProtectionKind&);

struct Family {
    std::span<const std::string_view> extensions;
    Test test;
    bool countsFailures;
};

constexpr std::string_view Pdf[]{".pdf"};
constexpr std::string_view Zip[]{".zip"};

// Tried in this order; the extensions of no two families overlap.
const Family Families[] = {
    {office::Word, officeTest, true},        {office::Excel, officeTest, false},
    {office::PowerPoint, officeTest, false}, {office::Xps, officeTest, false},
    {Pdf, pdfTest, false},                   {Zip, zipTest, false},
};

} // namespace

bool ProtectionChecker::check(const char* path, ProtectionKind& kind)
{
    if (path == nullptr)
        return false;
    bool isProtected = false;
    int failures = 0;
    for (const Family& family : Families) {
        if (!hasAnyExtension(path, family.extensions))
            continue;
        try {
            // The kind is taken only from a test that finished.
            ProtectionKind found = kind;
            if (family.test(path, found)) {
                isProtected = true;
                kind = found;
            }
        } catch (...) {
            // A family that fails leaves the file unprotected; only the Word
            // family's line counts the failure.
            diagnostic("Access error:%d %s\n", family.countsFailures ? ++failures : failures, path);
        }
    }
    return isProtected;
}

} // namespace MAIL
