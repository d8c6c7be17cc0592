// ZipEncryptionCheck: whether every file in a ZIP archive is encrypted.
//
// The walk goes through the archive from the front, one 4-byte signature at
// a time: local file headers are skipped with their name, extra field and
// data (for entries whose sizes follow the data, up to the next data
// descriptor signature), central directory headers are counted, the end
// record ends the walk, anything else is passed over. A file entry is a
// central directory header whose name does not end in "/"; it is encrypted
// when its flag bit 0 is set. No field is read past the end of the archive;
// a field that does not fit is not read and the position stays.
//
// The walk takes time linear in the archive: a search for a data descriptor
// that found nothing is not repeated for later entries (it would find
// nothing again).
//
// The archive is not read into a buffer of ours: load() maps the file (see
// MappedFile). The walk reads every byte it looks at once, in place; the
// descriptor search runs ahead of the walk and, when it finds nothing, the
// walk goes on from where it began, which a mapping serves without a second
// read or a copy. view() walks bytes the caller holds instead.
#pragma once

#include "analysis/protection/MappedFile.h"
#include "foundation/Object.h"

#include <cstdint>
#include <span>

namespace MAIL {

class ZipEncryptionCheck : public Object {
public:
    static constexpr int NoPath = -5000;
    static constexpr int Missing = -5001;
    static constexpr int CannotOpen = -5002;
    static constexpr int NotZip = -5003;   // does not begin with a local file header
    static constexpr int TooShort = -5004; // fewer than 4 bytes

    // Maps the archive at path; 0, or throws one of the codes above.
    int load(const char* path);

    // Walks the bytes given instead of a loaded file (no signature check);
    // they must outlive the walk.
    void view(std::span<const std::uint8_t> archive);

    // Counts the entries; returns the number of file entries.
    int walk();

    // At least one file entry, and every one encrypted.
    bool isAllEncrypted() const { return allEncrypted_; }
    int getFileEntries() const { return files_; }
    int getEncryptedEntries() const { return encrypted_; }
    int getUnencryptedEntries() const { return unencrypted_; }

    // Lets go of the archive.
    void release();

private:
    bool fits(std::size_t count) const { return archive_.size() - position_ >= count; }
    void skip(std::size_t count);

    MappedFile file_;
    std::span<const std::uint8_t> archive_;
    std::size_t position_ = 0;
    int files_ = 0;
    int encrypted_ = 0;
    int unencrypted_ = 0;
    bool allEncrypted_ = false;
};

} // namespace MAIL
