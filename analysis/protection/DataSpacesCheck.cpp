#include "analysis/protection/DataSpacesCheck.h"

#include "analysis/protection/CompoundFile.h"
#include "analysis/protection/FileExtension.h"
#include "analysis/protection/OfficeExtensions.h"

#include <algorithm>
#include <array>

namespace MAIL {

namespace {

// A ZIP local header for version 2.0, flags 6, deflate: how Office begins
// every package it writes.
constexpr std::array<std::uint8_t, 10> OfficePackageStart{0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x06, 0x00, 0x08, 0x00};

int examine(const ByteSource& source, std::string_view path)
{
    const bool package = hasAnyExtension(path, office::Packages);
    if (package) {
        std::array<std::uint8_t, OfficePackageStart.size()> start{};
        if (source.readExactly(0, start) && start == OfficePackageStart)
            return DataSpacesCheck::OrdinaryPackage;
    }
    // A file that is merely not a compound file is no failure of the probe;
    // opening it fails below.
    if (CompoundFile::probe(source) == CompoundFile::Status::ReadFailed)
        return DataSpacesCheck::ProbeFailed;
    CompoundFile file;
    if (file.open(source) != CompoundFile::Status::Ok)
        return DataSpacesCheck::OpenFailed;
    CompoundFile::Entry storage;
    if (file.root(storage) != CompoundFile::Status::Ok)
        return DataSpacesCheck::RootUnreadable;

    const std::u16string_view transform = package || hasAnyExtension(path, office::Xps)
                                              ? std::u16string_view(u"DRMEncryptedTransform")
                                              : std::u16string_view(u"\x09" u"DRMTransform");
    for (const std::u16string_view name : {std::u16string_view(u"\x06" u"DataSpaces"), std::u16string_view(u"TransformInfo"), transform}) {
        CompoundFile::Entry next;
        switch (file.find(storage, name, next)) {
        case CompoundFile::Status::Ok:
            if (!next.isStorage())
                return DataSpacesCheck::StorageMissing;
            storage = std::move(next);
            break;
        case CompoundFile::Status::NotFound:
            return DataSpacesCheck::StorageMissing;
        default:
            return DataSpacesCheck::ReaderFailed;
        }
    }
    CompoundFile::Entry primary;
    switch (file.find(storage, u"\x06" u"Primary", primary)) {
    case CompoundFile::Status::Ok:
        return primary.isStream() ? DataSpacesCheck::Irm : DataSpacesCheck::PrimaryMissing;
    case CompoundFile::Status::NotFound:
        return DataSpacesCheck::PrimaryMissing;
    default:
        return DataSpacesCheck::ReaderFailed;
    }
}

} // namespace

int DataSpacesCheck::check(const char* path) const
{
    if (path == nullptr || path[0] == '\0')
        return NoPath;
    try {
        FileSource source;
        if (source.open(path) != FileSource::Opened::Yes)
            return ProbeFailed;
        return examine(source, path);
    } catch (...) {
        return Unexpected;
    }
}

int DataSpacesCheck::check(const ByteSource& source, std::string_view path) const
{
    try {
        return examine(source, path);
    } catch (...) {
        return Unexpected;
    }
}

} // namespace MAIL
