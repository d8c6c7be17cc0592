#include "analysis/protection/DataSpacesCheck.h"
#include "analysis/protection/OfficeEncryptionCheck.h"

#include "CompoundFileWriter.h"
#include "OfficeFixtures.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using MAIL::DataSpacesCheck;
using MAIL::OfficeEncryptionCheck;
using pelorus::test::CompoundFileWriter;
using pelorus::test::TempDir;
using pelorus::test::Transform;
using pelorus::test::writeFile;

namespace {

// A file with one storage or stream changed, to see each step of the IRM
// search fail on its own.
std::string irmWith(const std::function<void(CompoundFileWriter&)>& build)
{
    CompoundFileWriter writer(3);
    writer.addStream(u"WordDocument", std::string(100, 'w'));
    build(writer);
    return writer.build();
}

const std::u16string TransformInfo = u"\x06" u"DataSpaces/TransformInfo/";

} // namespace

TEST(DataSpacesCheck, EachStepOfTheSearchHasItsResult)
{
    struct Case {
        const char* name;
        const char* file;
        std::optional<std::string> content; // none: the file is not there
        int expected;
    };
    std::string damagedRoot = irmContainer(3, Transform::Binary);
    damagedRoot[512 * (1 + static_cast<unsigned char>(damagedRoot[48])) + 66] = 1; // entry 0 becomes a plain storage
    CompoundFileWriter loopWriter(3);
    loopWriter.addStream(TransformInfo + u"DRMEncryptedTransform/\x06" u"Primary", "p");
    loopWriter.addStream(u"EncryptionInfo", "i");
    std::string siblingLoop = loopWriter.build();
    pelorus::test::put32(siblingLoop, loopWriter.layout().entryOffset(loopWriter.idOf(u"EncryptionInfo")) + 72,
                         loopWriter.idOf(u"EncryptionInfo"));

    const Case cases[] = {
        {"ordinary package", "report.docx", pelorus::test::officePackage(), DataSpacesCheck::OrdinaryPackage},
        {"package from another writer", "report.docx", std::string("PK\x03\x04\x14\x00\x08\x00\x08\x00", 10), DataSpacesCheck::OpenFailed},
        {"IRM package, version 4", "protected.docx", irmContainer(4, Transform::Package), DataSpacesCheck::Irm},
        {"IRM package with password", "protected.xlsx", irmContainer(3, Transform::Package, true), DataSpacesCheck::Irm},
        {"IRM XPS", "protected.XPS", irmContainer(3, Transform::Package), DataSpacesCheck::Irm},
        {"IRM binary document", "protected.doc", irmContainer(3, Transform::Binary), DataSpacesCheck::Irm},
        {"IRM binary presentation, version 4", "protected.ppt", irmContainer(4, Transform::Binary), DataSpacesCheck::Irm},
        {"binary transform in a package", "protected.pptx", irmContainer(3, Transform::Binary), DataSpacesCheck::StorageMissing},
        {"package transform in a binary", "protected.xls", irmContainer(3, Transform::Package), DataSpacesCheck::StorageMissing},
        {"password container without IRM", "secret.docx", pelorus::test::encryptedPackage(4), DataSpacesCheck::StorageMissing},
        {"plain binary document", "plain.doc", pelorus::test::wordDocument(0xA5EC, 0), DataSpacesCheck::StorageMissing},
        {"DataSpaces is a stream", "a.doc", irmWith([](auto& w) { w.addStream(u"\x06" u"DataSpaces", "x"); }), DataSpacesCheck::StorageMissing},
        {"no Primary", "a.doc", irmWith([](auto& w) { w.addStream(TransformInfo + u"\x09" u"DRMTransform/Other", "x"); }),
         DataSpacesCheck::PrimaryMissing},
        {"Primary is a storage", "a.doc", irmWith([](auto& w) { w.addStorage(TransformInfo + u"\x09" u"DRMTransform/\x06" u"Primary"); }),
         DataSpacesCheck::PrimaryMissing},
        {"names in other case", "a.doc", irmWith([](auto& w) { w.addStream(u"\x06" u"DATASPACES/transforminfo/\x09" u"drmTRANSFORM/\x06" u"PRIMARY", "x"); }),
         DataSpacesCheck::Irm},
        {"text file", "a.doc", std::string("hello"), DataSpacesCheck::OpenFailed},
        {"empty file", "a.docx", std::string(), DataSpacesCheck::OpenFailed},
        {"no root storage", "a.doc", damagedRoot, DataSpacesCheck::RootUnreadable},
        {"sibling tree loops", "a.docx", siblingLoop, DataSpacesCheck::ReaderFailed},
        {"missing file", "gone.doc", std::nullopt, DataSpacesCheck::ProbeFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir / c.file;
        if (c.content)
            writeFile(path, *c.content);
        EXPECT_EQ(DataSpacesCheck().check(path.c_str()), c.expected);
    }
    EXPECT_EQ(DataSpacesCheck().check(nullptr), DataSpacesCheck::NoPath);
}

TEST(OfficeEncryptionCheck, FindsEachFormatsMarker)
{
    struct Case {
        const char* name;
        const char* file;
        std::string content;
        bool encrypted;
    };
    const Case cases[] = {
        {"doc, encrypted", "a.doc", pelorus::test::wordDocument(0xA5EC, 0x01), true},
        {"doc, write reservation only", "a.doc", pelorus::test::wordDocument(0xA5EC, 0x08), true},
        {"doc, obfuscated and encrypted", "a.DOC", pelorus::test::wordDocument(0xA5EC, 0x81), true},
        {"doc, read-only recommended only", "a.doc", pelorus::test::wordDocument(0xA5EC, 0x04), false},
        {"doc, Word 6 encrypted", "a.doc", pelorus::test::wordDocument(0xA5DC, 0x01), true},
        {"doc, older ident", "a.doc", pelorus::test::wordDocument(0xA5DB, 0x01), false},
        {"doc, block shorter than 18 bytes", "a.doc", pelorus::test::wordDocument(0xA5EC, 0x01, 17), false},
        {"xls, FILEPASS", "a.xls", pelorus::test::workbook(0x002F), true},
        {"xls, WRITEPROT", "a.xls", pelorus::test::workbook(0x0086), true},
        {"xls, INTERFACEHDR", "a.xls", pelorus::test::workbook(0x00E1), false},
        {"xls, FILEPASS in an old Book stream", "a.xls", pelorus::test::workbook(0x002F, u"Book"), false},
        {"ppt, EncryptedSummary", "a.ppt", pelorus::test::presentation(true), true},
        {"pps, EncryptedSummary", "a.pps", pelorus::test::presentation(true), true},
        {"ppt, plain", "a.ppt", pelorus::test::presentation(false), false},
        {"docx container, version 4", "a.docx", pelorus::test::encryptedPackage(4), true},
        {"xlsb container", "a.xlsb", pelorus::test::encryptedPackage(3), true},
        {"ppsm container", "a.ppsm", pelorus::test::encryptedPackage(3), true},
        {"xps container", "a.xps", pelorus::test::encryptedPackage(3), false},
        {"ordinary package", "a.docx", pelorus::test::officePackage(), false},
        {"doc that is text", "a.doc", "just text", false},
        {"encrypted doc named .txt", "a.txt", pelorus::test::wordDocument(0xA5EC, 0x01), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeFile(dir / c.file, c.content);
        EXPECT_EQ(OfficeEncryptionCheck().check((dir / c.file).c_str()), c.encrypted);
    }
    TempDir dir;
    EXPECT_FALSE(OfficeEncryptionCheck().check((dir / "missing.doc").c_str()));
    EXPECT_FALSE(OfficeEncryptionCheck().check(nullptr));
}
