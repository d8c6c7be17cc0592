// DataSpacesCheck: whether an Office file carries a rights-management (IRM)
// data space. Such a file is a compound file with the storage path
// 0x06 "DataSpaces" / "TransformInfo" / <transform>, holding the stream
// 0x06 "Primary" (0x06 being the character of that code). The transform is
// "DRMEncryptedTransform" for the packaged formats (.docx and kin, .xps),
// which IRM wraps whole, and 0x09 "DRMTransform" for the binary ones.
//
// The result is a code; only Irm means protected, the others tell apart
// why not. An ordinary package (a ZIP as Office writes it) is answered
// from its first bytes alone. Never throws; only reads.
#pragma once

#include "analysis/protection/ByteSource.h"
#include "foundation/Object.h"

#include <string_view>

namespace MAIL {

class DataSpacesCheck : public Object {
public:
    enum Result : int {
        OrdinaryPackage = 0,  // a package starting as Office writes one
        Irm = 1,              // the data space and its Primary stream are there
        NoPath = 100,
        ProbeFailed = 101,    // the file could not be read (missing, unreadable)
        RootUnreadable = 103, // the directory has no root storage
        PrimaryMissing = 105,
        ReaderFailed = 106,   // damage met while looking the storages up
        OpenFailed = 201,     // not a compound file, or a damaged one
        StorageMissing = 202,
        Unexpected = 1000,    // any other failure (memory)
    };

    // The test for the file at path; the path's extension picks the transform.
    int check(const char* path) const;

    // The same test on a source already open; path is used for its extension.
    int check(const ByteSource& source, std::string_view path) const;
};

} // namespace MAIL
