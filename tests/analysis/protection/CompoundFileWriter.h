// CompoundFileWriter: builds compound files for the tests, the way the
// binary Office documents and the protected Office packages are stored.
// Storages and streams are added at paths of names separated by '/';
// streams under 4096 bytes go to the mini stream; each storage's children
// form a balanced tree sorted as the format sorts them, or, to test readers
// that must not rely on the order, an unsorted chain. Versions 3 and 4;
// FAT sectors beyond the header's 109 are listed in DIFAT sectors.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelorus::test {

class CompoundFileWriter {
public:
    enum class Tree { Balanced, UnsortedChain };

    // Where build() put things, for tests that damage the file on purpose.
    struct Layout {
        std::uint32_t sectorSize = 0;
        std::uint32_t fatSectors = 0;
        std::uint32_t difatSectors = 0;  // they follow the FAT sectors
        std::uint32_t directoryStart = 0;
        std::uint32_t miniFatStart = 0;
        std::uint64_t sectorOffset(std::uint32_t sector) const { return (sector + 1ull) * sectorSize; }
        // Directory sectors are consecutive.
        std::uint64_t entryOffset(std::uint32_t id) const { return sectorOffset(directoryStart) + id * 128ull; }
        // Where the FAT's entry for a sector is (FAT sectors are 0, 1, ...).
        std::uint64_t fatEntryOffset(std::uint32_t sector) const
        {
            return sectorOffset(sector / (sectorSize / 4)) + 4ull * (sector % (sectorSize / 4));
        }
    };

    explicit CompoundFileWriter(int majorVersion = 3, Tree tree = Tree::Balanced);

    void addStorage(std::u16string_view path);
    void addStream(std::u16string_view path, std::string content);

    std::string build();
    const Layout& layout() const { return layout_; }
    // After build(): the directory entry id and first sector of an entry.
    std::uint32_t idOf(std::u16string_view path) const;
    std::uint32_t startOf(std::u16string_view path) const;

private:
    struct Node {
        std::u16string name;
        bool storage = false;
        std::string content;
        std::vector<std::size_t> children;
        std::uint32_t id = 0, start = 0;
        std::uint32_t left = 0xFFFFFFFF, right = 0xFFFFFFFF, child = 0xFFFFFFFF;
    };
    std::size_t nodeAt(std::u16string_view path, bool create, bool storage);
    std::size_t find(std::u16string_view path) const;
    std::uint32_t linkChildren(std::vector<std::size_t> children);

    int major_;
    Tree tree_;
    std::vector<Node> nodes_;
    Layout layout_;
};

// Little-endian field access on a file's bytes.
std::uint32_t get32(const std::string& bytes, std::uint64_t offset);
void put32(std::string& bytes, std::uint64_t offset, std::uint32_t value);
void put64(std::string& bytes, std::uint64_t offset, std::uint64_t value);

} // namespace pelorus::test
