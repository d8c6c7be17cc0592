// ProtectionChecker: whether an attached file is protected, and how.
//
// The verdict comes from the file name's extension (matched without regard
// to case) and the file's own content: Office files (compound files and the
// encrypted containers of the XML formats) are examined for a rights-
// management data space (kind IRM) and for their formats' password markers
// (kind Password); PDF files for an encryption dictionary; ZIP archives for
// entries that are all encrypted. Anything else, or a file that is missing,
// unreadable or damaged, is not protected. Checks only read.
//
//   .doc .docm .docx, .xls .xlsm .xlsx .xlsb, .ppt .pps .pptm .pptx .ppsx
//   .ppsm, .xps   DataSpacesCheck (IRM), then OfficeEncryptionCheck
//                 (Password, which wins when both show)
//   .pdf          PdfEncryptionCheck (Password)
//   .zip          ZipEncryptionCheck, every file entry encrypted (Password)
//
// A check that fails (a PDF or ZIP that cannot be read or is not of its
// format, or any failure inside an Office check) writes
// "Access error:<n> <path>" through the diagnostics channel, where n is 1
// for the Word family and 0 for the others, and leaves the file unprotected.
#pragma once

#include "foundation/Object.h"

#include <cstdint>

namespace MAIL {

// 0 none, 1 rights management (IRM), 2 password.
using ProtectionKind = std::int32_t;
inline constexpr ProtectionKind ProtectionNone = 0;
inline constexpr ProtectionKind ProtectionIRM = 1;
inline constexpr ProtectionKind ProtectionPassword = 2;

class ProtectionChecker : public Object {
public:
    // The verdict for the file at path; kind (set to 0 by the caller) is
    // set to the kind found. Never throws.
    bool check(const char* path, ProtectionKind& kind);
};

} // namespace MAIL
