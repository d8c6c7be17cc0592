// ByteSource: random-access reading of a file's bytes, or of bytes already
// in memory, for the checks that read only small pieces of a file.
//
// A FileSource opens a regular file read-only (close-on-exec, never blocking
// on a FIFO or device) and reads with pread, so a check that needs 5 bytes
// at the start and 1024 at the end reads exactly those. A MemorySource serves
// the same reads from bytes the caller holds (fuzzing, in-memory checks).
// Reads past the end are short, never an error; a failed read is -1.
#pragma once

#include <cstdint>
#include <span>

namespace MAIL {

class ByteSource {
public:
    ByteSource() = default;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;
    virtual ~ByteSource() = default;

    // The size in bytes, as it was when the source was opened.
    virtual std::uint64_t size() const = 0;

    // Reads up to into.size() bytes at offset; the count read (short only at
    // the end), or -1 when the read failed.
    virtual std::int64_t readAt(std::uint64_t offset, std::span<std::uint8_t> into) const = 0;

    // Reads exactly into.size() bytes at offset; false when fewer were there.
    bool readExactly(std::uint64_t offset, std::span<std::uint8_t> into) const;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint64_t size() const override { return bytes_.size(); }
    std::int64_t readAt(std::uint64_t offset, std::span<std::uint8_t> into) const override;

private:
    std::span<const std::uint8_t> bytes_;
};

class FileSource final : public ByteSource {
public:
    enum class Opened { Yes, Missing, Unreadable };

    FileSource() = default;
    ~FileSource() override;

    // Opens path read-only. Missing: nothing is there; Unreadable: it cannot
    // be opened or is not a regular file.
    Opened open(const char* path);

    std::uint64_t size() const override { return size_; }
    std::int64_t readAt(std::uint64_t offset, std::span<std::uint8_t> into) const override;

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

} // namespace MAIL
