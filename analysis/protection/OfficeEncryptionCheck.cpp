#include "analysis/protection/OfficeEncryptionCheck.h"

#include "analysis/protection/CompoundFile.h"
#include "analysis/protection/FileExtension.h"

#include <vector>

namespace MAIL {

namespace {

// The first count bytes of the named stream in the root storage; empty when
// the file, the stream or its bytes are not there.
std::vector<std::uint8_t> streamStart(const CompoundFile& file, std::u16string_view name, std::size_t count)
{
    std::vector<std::uint8_t> bytes;
    CompoundFile::Entry stream;
    if (file.findPath({name}, stream) != CompoundFile::Status::Ok ||
        file.readStart(stream, count, bytes) != CompoundFile::Status::Ok)
        bytes.clear();
    return bytes;
}

bool hasStream(const CompoundFile& file, std::u16string_view name)
{
    CompoundFile::Entry stream;
    return file.findPath({name}, stream) == CompoundFile::Status::Ok && stream.isStream();
}

} // namespace

bool OfficeEncryptionCheck::check(const char* path) const
{
    if (path == nullptr)
        return false;
    FileSource source;
    return source.open(path) == FileSource::Opened::Yes && check(source, path);
}

bool OfficeEncryptionCheck::check(const ByteSource& source, std::string_view path) const
{
    enum class Family { Word, PowerPoint, Excel, Package, None };
    Family family = Family::None;
    if (hasExtension(path, ".doc"))
        family = Family::Word;
    else if (hasAnyExtension(path, {".ppt", ".pps"}))
        family = Family::PowerPoint;
    else if (hasExtension(path, ".xls"))
        family = Family::Excel;
    else if (hasAnyExtension(path, {".docx", ".docm", ".pptx", ".ppsx", ".pptm", ".ppsm", ".xlsx", ".xlsm", ".xlsb"}))
        family = Family::Package;
    if (family == Family::None)
        return false;

    CompoundFile file;
    if (file.open(source) != CompoundFile::Status::Ok)
        return false;
    switch (family) {
    case Family::Word: {
        // The file information block: wIdent at 0, flags at 10; in the
        // flags' high byte bit 0 is fEncrypted, bit 3 fWriteReservation.
        const auto fib = streamStart(file, u"WordDocument", 18);
        return fib.size() == 18 && (fib[0] | fib[1] << 8) >= 0xA5DC && (fib[11] & 0x09) != 0;
    }
    case Family::PowerPoint:
        return hasStream(file, u"EncryptedSummary");
    case Family::Excel: {
        // BOF is 4 bytes of record header and 16 of body; the next record's
        // type begins at 20.
        const auto records = streamStart(file, u"Workbook", 32);
        return records.size() > 20 && (records[20] == 0x2F || records[20] == 0x86);
    }
    case Family::Package:
        return hasStream(file, u"EncryptionInfo");
    case Family::None:
        break;
    }
    return false;
}

} // namespace MAIL
