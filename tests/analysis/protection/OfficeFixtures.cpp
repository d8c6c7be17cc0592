#include "OfficeFixtures.h"

#include "CompoundFileWriter.h"

namespace pelorus::test {

namespace {

const std::u16string DataSpaces = u"\x06" u"DataSpaces";

void addDataSpace(CompoundFileWriter& writer, Transform transform)
{
    writer.addStream(DataSpaces + u"/Version", std::string(76, 'v'));
    writer.addStream(DataSpaces + u"/DataSpaceMap", std::string(112, 'm'));
    const std::u16string storage = DataSpaces + u"/TransformInfo/" +
                                   (transform == Transform::Package ? u"DRMEncryptedTransform" : u"\x09" u"DRMTransform");
    writer.addStream(storage + u"/\x06" u"Primary", std::string(900, 'p'));
}

std::string fib(std::uint16_t ident, std::uint8_t flagsHigh, std::size_t size)
{
    std::string bytes(size, '\0');
    if (size >= 12) {
        bytes[0] = static_cast<char>(ident & 0xFF);
        bytes[1] = static_cast<char>(ident >> 8);
        bytes[11] = static_cast<char>(flagsHigh);
    }
    return bytes;
}

} // namespace

std::string irmContainer(int version, Transform transform, bool encryptionInfo)
{
    CompoundFileWriter writer(version);
    addDataSpace(writer, transform);
    if (transform == Transform::Package)
        writer.addStream(u"\x09" u"DRMContent", std::string(6000, 'c'));
    else
        writer.addStream(u"WordDocument", fib(0xA5EC, 0, 64));
    if (encryptionInfo)
        writer.addStream(u"EncryptionInfo", std::string(200, 'i'));
    return writer.build();
}

std::string encryptedPackage(int version)
{
    CompoundFileWriter writer(version);
    writer.addStream(DataSpaces + u"/Version", std::string(76, 'v'));
    writer.addStream(DataSpaces + u"/TransformInfo/StrongEncryptionTransform/\x06" u"Primary", std::string(200, 'p'));
    writer.addStream(u"EncryptionInfo", std::string(248, 'i'));
    writer.addStream(u"EncryptedPackage", std::string(9000, 'e'));
    return writer.build();
}

std::string wordDocument(std::uint16_t ident, std::uint8_t flagsHigh, std::size_t fibSize)
{
    CompoundFileWriter writer(3);
    writer.addStream(u"WordDocument", fib(ident, flagsHigh, fibSize));
    writer.addStream(u"1Table", std::string(1000, 't'));
    return writer.build();
}

std::string workbook(std::uint16_t secondRecord, const char16_t* streamName)
{
    // BOF: type 0x0809, length 16, then its body; then the second record.
    std::string records("\x09\x08\x10\x00", 4);
    records += std::string("\x00\x06\x05\x00", 4) + std::string(12, '\0');
    records += static_cast<char>(secondRecord & 0xFF);
    records += static_cast<char>(secondRecord >> 8);
    records += std::string("\x36\x00", 2) + std::string(54, 'r');
    CompoundFileWriter writer(3);
    writer.addStream(streamName, records);
    return writer.build();
}

std::string presentation(bool encryptedSummary)
{
    CompoundFileWriter writer(3);
    writer.addStream(u"PowerPoint Document", std::string(5000, 'd'));
    writer.addStream(u"Current User", std::string(60, 'u'));
    if (encryptedSummary)
        writer.addStream(u"EncryptedSummary", std::string(300, 's'));
    return writer.build();
}

std::string officePackage()
{
    return std::string("PK\x03\x04\x14\x00\x06\x00\x08\x00", 10) + std::string(200, 'z');
}

} // namespace pelorus::test
