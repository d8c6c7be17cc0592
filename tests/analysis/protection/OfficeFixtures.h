// Office files as the protected formats store them, made with the
// compound-file writer: rights-managed (IRM) containers, password-encrypted
// packages, and binary documents with their encryption markers.
#pragma once

#include <cstdint>
#include <string>

namespace pelorus::test {

enum class Transform { Package, Binary };

// A compound file with the IRM data space; transform picks the storage
// name used for packages ("DRMEncryptedTransform") or binary documents
// ("\x09DRMTransform"). With encryptionInfo it also holds the password
// container's EncryptionInfo stream.
std::string irmContainer(int version, Transform transform, bool encryptionInfo = false);

// An encrypted package container: EncryptionInfo and a large EncryptedPackage.
std::string encryptedPackage(int version);

// A .doc whose file information block has this ident and flags high byte.
std::string wordDocument(std::uint16_t ident, std::uint8_t flagsHigh, std::size_t fibSize = 64);

// A .xls whose Workbook stream has BOF followed by a record of this type.
std::string workbook(std::uint16_t secondRecord, const char16_t* streamName = u"Workbook");

// A .ppt, with or without the EncryptedSummary stream.
std::string presentation(bool encryptedSummary);

// The first bytes Office writes at the start of an ordinary package.
std::string officePackage();

} // namespace pelorus::test
