// CompoundFile: a read-only reader of the compound file format, the
// container of the binary Office documents and of the encrypted and
// rights-managed Office packages. It reads the header (major versions 3 and
// 4, 512- and 4096-byte sectors), the FAT with its DIFAT, the directory, the
// mini FAT and mini stream; it finds a storage or stream by name inside a
// storage and reads the start of a stream. That is all the checks need.
//
// Nothing read from the file is trusted. Every sector number is checked
// against the sectors the file really has; every chain (FAT, DIFAT, mini
// FAT) is walked at most as many steps as there are sectors, so a cycle ends
// it; a search of a storage visits each directory entry at most once; sizes
// larger than the file can hold are refused; nothing is allocated beyond
// the size of the file. Every such fault, and a file cut short, is
// NotCompoundFile: the reader never hangs, never reads outside the file.
//
// The source must outlive the reader. Readers are used by one thread.
#pragma once

#include "analysis/protection/ByteSource.h"

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace MAIL {

class CompoundFile {
public:
    enum class Status {
        Ok,
        NotFound,        // no entry of that name (or of that kind) in the storage
        NotCompoundFile, // not the format, or damaged: cut short, out of range, cyclic
        ReadFailed,      // the file itself could not be read
    };

    enum class Type : std::uint8_t { Unused = 0, Storage = 1, Stream = 2, Root = 5 };

    struct Entry {
        std::uint32_t id = 0;
        Type type = Type::Unused;
        std::u16string name;
        std::uint32_t left = 0, right = 0, child = 0;
        std::uint32_t start = 0;
        std::uint64_t size = 0;

        bool isStorage() const { return type == Type::Storage || type == Type::Root; }
        bool isStream() const { return type == Type::Stream; }
    };

    // Whether the source begins with the compound file signature: Ok, or
    // NotCompoundFile, or ReadFailed when it cannot be read at all.
    static Status probe(const ByteSource& source);

    // Reads the header, the FAT, the directory and the mini FAT.
    Status open(const ByteSource& source);

    // The root storage (directory entry 0).
    Status root(Entry& out) const;

    // The entry called name among the children of storage; names compare
    // as UTF-16 without regard to case.
    Status find(const Entry& storage, std::u16string_view name, Entry& out) const;

    // Follows a path of names from the root; every step but the last must
    // be a storage.
    Status findPath(std::initializer_list<std::u16string_view> names, Entry& out) const;

    // All children of storage, in no particular order.
    Status children(const Entry& storage, std::vector<Entry>& out) const;

    // The first min(count, size) bytes of a stream.
    Status readStart(const Entry& stream, std::size_t count, std::vector<std::uint8_t>& out) const;

    int majorVersion() const { return major_; }
    std::uint32_t sectorSize() const { return sectorSize_; }

    // Whether two directory names are equal as the format compares them.
    static bool sameName(std::u16string_view a, std::u16string_view b);

private:
    Status chain(std::uint32_t start, std::vector<std::uint32_t>& sectors) const;
    Status readSector(std::uint32_t sector, std::uint32_t offset, std::span<std::uint8_t> into) const;
    std::size_t entryCount() const { return directory_.size() / 128; }
    Entry entryAt(std::uint32_t id) const;

    const ByteSource* source_ = nullptr;
    int major_ = 0;
    std::uint32_t sectorShift_ = 0;
    std::uint32_t sectorSize_ = 0;
    std::uint64_t sectorCount_ = 0; // whole sectors in the file
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> miniFat_;
    std::vector<std::uint8_t> directory_;
    std::vector<std::uint32_t> miniStream_; // the root's sectors, in order
    std::uint64_t miniStreamSize_ = 0;
};

} // namespace MAIL
