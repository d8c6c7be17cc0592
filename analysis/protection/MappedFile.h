// MappedFile: a regular file mapped read-only into memory, for a walk that
// needs to look at all of a file without copying it. The kernel reads each
// page from disk once, on first touch; the mapping costs address space, not
// memory. The file must not shrink while mapped (reading a vanished page
// raises SIGBUS), so this is only for files the caller owns, such as the
// attachments the extractor wrote and closed in its private folder.
#pragma once

#include <cstdint>
#include <span>

namespace MAIL {

class MappedFile {
public:
    enum class Mapped { Yes, Missing, Unreadable };

    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile() { release(); }

    // Maps path (an empty file gives no bytes and needs no mapping).
    Mapped map(const char* path);

    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

    // Unmaps; bytes() is then empty.
    void release();

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    bool mapped_ = false;
};

} // namespace MAIL
