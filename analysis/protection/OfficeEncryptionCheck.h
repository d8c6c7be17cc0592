// OfficeEncryptionCheck: whether an Office file is password-encrypted, by
// the marker each format keeps in its compound file:
//   .doc          the WordDocument stream's file information block: a
//                 version of at least 0xA5DC and the encrypted or the
//                 write-reservation flag
//   .ppt .pps     an EncryptedSummary stream
//   .xls          the Workbook stream's second record is FILEPASS (0x2F) or
//                 WRITEPROT (0x86)
//   .docx .docm .pptx .ppsx .pptm .ppsm .xlsx .xlsm .xlsb
//                 an EncryptionInfo stream (the encrypted package container;
//                 a password-protected macro slide show is one like the rest)
// Other extensions (.xps among them: it has IRM but no password form) are
// never encrypted here. A file that is missing, not a compound file,
// damaged or without the stream is not encrypted. Reads at most 32 bytes
// of one stream.
#pragma once

#include "analysis/protection/ByteSource.h"
#include "foundation/Object.h"

#include <string_view>

namespace MAIL {

class OfficeEncryptionCheck : public Object {
public:
    // The test for the file at path, by the path's extension.
    bool check(const char* path) const;

    // The same test on a source already open; path is used for its extension.
    bool check(const ByteSource& source, std::string_view path) const;
};

} // namespace MAIL
