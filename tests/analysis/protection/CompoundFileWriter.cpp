#include "CompoundFileWriter.h"

#include <algorithm>
#include <stdexcept>

namespace pelorus::test {

namespace {

constexpr std::uint32_t EndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t FreeSector = 0xFFFFFFFF;
constexpr std::uint32_t FatSector = 0xFFFFFFFD;
constexpr std::uint32_t DifatSector = 0xFFFFFFFC;

char16_t upper(char16_t c)
{
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 0x20);
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) || (c >= 0x430 && c <= 0x44F))
        return static_cast<char16_t>(c - 0x20);
    return c;
}

// The format's order: shorter names first, then by upper-cased units.
bool before(const std::u16string& a, const std::u16string& b)
{
    if (a.size() != b.size())
        return a.size() < b.size();
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i]))
            return upper(a[i]) < upper(b[i]);
    return false;
}

std::uint32_t sectorsFor(std::uint64_t bytes, std::uint32_t sectorSize)
{
    return static_cast<std::uint32_t>((bytes + sectorSize - 1) / sectorSize);
}

} // namespace

std::uint32_t get32(const std::string& bytes, std::uint64_t offset)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<std::uint8_t>(bytes.at(offset + i));
    return value;
}

void put32(std::string& bytes, std::uint64_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.at(offset + i) = static_cast<char>(value >> (8 * i));
}

void put64(std::string& bytes, std::uint64_t offset, std::uint64_t value)
{
    put32(bytes, offset, static_cast<std::uint32_t>(value));
    put32(bytes, offset + 4, static_cast<std::uint32_t>(value >> 32));
}

CompoundFileWriter::CompoundFileWriter(int majorVersion, Tree tree) : major_(majorVersion), tree_(tree)
{
    nodes_.push_back(Node{u"Root Entry", true, {}, {}});
}

std::size_t CompoundFileWriter::nodeAt(std::u16string_view path, bool create, bool storage)
{
    std::size_t current = 0;
    while (!path.empty()) {
        const std::size_t slash = path.find(u'/');
        const std::u16string_view name = path.substr(0, slash);
        path = slash == std::u16string_view::npos ? std::u16string_view() : path.substr(slash + 1);
        const bool last = path.empty();
        auto& children = nodes_[current].children;
        const auto it = std::find_if(children.begin(), children.end(),
                                     [&](std::size_t c) { return nodes_[c].name == name; });
        if (it != children.end()) {
            current = *it;
            continue;
        }
        if (!create)
            throw std::invalid_argument("no such entry");
        nodes_.push_back(Node{std::u16string(name), last ? storage : true, {}, {}});
        nodes_[current].children.push_back(nodes_.size() - 1);
        current = nodes_.size() - 1;
    }
    return current;
}

std::size_t CompoundFileWriter::find(std::u16string_view path) const
{
    return const_cast<CompoundFileWriter*>(this)->nodeAt(path, false, false);
}

void CompoundFileWriter::addStorage(std::u16string_view path) { nodeAt(path, true, true); }

void CompoundFileWriter::addStream(std::u16string_view path, std::string content)
{
    nodes_[nodeAt(path, true, false)].content = std::move(content);
}

std::uint32_t CompoundFileWriter::idOf(std::u16string_view path) const { return nodes_[find(path)].id; }

std::uint32_t CompoundFileWriter::startOf(std::u16string_view path) const { return nodes_[find(path)].start; }

// Links a storage's children into a tree; returns the id of its top.
std::uint32_t CompoundFileWriter::linkChildren(std::vector<std::size_t> children)
{
    std::sort(children.begin(), children.end(), [&](std::size_t a, std::size_t b) { return before(nodes_[a].name, nodes_[b].name); });
    if (children.empty())
        return FreeSector;
    if (tree_ == Tree::UnsortedChain) {
        // Largest first, each next one to its right: the reverse of order.
        std::reverse(children.begin(), children.end());
        for (std::size_t i = 0; i + 1 < children.size(); ++i)
            nodes_[children[i]].right = nodes_[children[i + 1]].id;
        return nodes_[children.front()].id;
    }
    const std::size_t middle = children.size() / 2;
    Node& top = nodes_[children[middle]];
    top.left = linkChildren({children.begin(), children.begin() + static_cast<std::ptrdiff_t>(middle)});
    top.right = linkChildren({children.begin() + static_cast<std::ptrdiff_t>(middle) + 1, children.end()});
    return top.id;
}

std::string CompoundFileWriter::build()
{
    const std::uint32_t sectorSize = major_ == 4 ? 4096 : 512;
    const std::uint32_t perSector = sectorSize / 4;
    layout_ = Layout{};
    layout_.sectorSize = sectorSize;

    // Ids in depth-first order, then the trees.
    std::vector<std::size_t> order{0};
    for (std::size_t i = 0; i < order.size(); ++i) {
        nodes_[order[i]].id = static_cast<std::uint32_t>(i);
        auto& children = nodes_[order[i]].children;
        order.insert(order.begin() + static_cast<std::ptrdiff_t>(i) + 1, children.begin(), children.end());
    }
    for (Node& node : nodes_)
        node.left = node.right = node.child = FreeSector;
    for (std::size_t i = 0; i < nodes_.size(); ++i)
        if (nodes_[i].storage)
            nodes_[i].child = linkChildren(nodes_[i].children);

    // The mini stream and its FAT.
    std::string miniStream;
    std::vector<std::uint32_t> miniFat;
    std::uint32_t regularData = 0;
    for (Node& node : nodes_) {
        if (node.storage || node.content.empty()) {
            node.start = node.storage ? 0 : EndOfChain;
            continue;
        }
        if (node.content.size() >= 4096) {
            regularData += sectorsFor(node.content.size(), sectorSize);
            continue;
        }
        node.start = static_cast<std::uint32_t>(miniStream.size() / 64);
        const std::uint32_t pieces = sectorsFor(node.content.size(), 64);
        for (std::uint32_t i = 0; i < pieces; ++i)
            miniFat.push_back(i + 1 < pieces ? node.start + i + 1 : EndOfChain);
        miniStream += node.content;
        miniStream.resize(miniStream.size() + (64 - miniStream.size() % 64) % 64, '\0');
    }

    const std::uint32_t directorySectors = sectorsFor(nodes_.size() * 128ull, sectorSize);
    const std::uint32_t miniFatSectors = sectorsFor(miniFat.size() * 4ull, sectorSize);
    const std::uint32_t miniStreamSectors = sectorsFor(miniStream.size(), sectorSize);
    const std::uint32_t data = directorySectors + miniFatSectors + miniStreamSectors + regularData;
    std::uint32_t fatSectors = 1, difatSectors = 0;
    for (;;) {
        const std::uint32_t total = data + fatSectors + difatSectors;
        const std::uint32_t fat = sectorsFor(total * 4ull, sectorSize);
        const std::uint32_t difat = fat > 109 ? (fat - 109 + perSector - 2) / (perSector - 1) : 0;
        if (fat == fatSectors && difat == difatSectors)
            break;
        fatSectors = fat;
        difatSectors = difat;
    }
    const std::uint32_t totalSectors = fatSectors + difatSectors + data;
    std::vector<std::uint32_t> fat(static_cast<std::size_t>(fatSectors) * perSector, FreeSector);
    std::uint32_t next = 0;
    // Gives count sectors as one chain; returns the first (or end of chain).
    const auto allocate = [&](std::uint32_t count, std::uint32_t mark) {
        const std::uint32_t first = count ? next : EndOfChain;
        for (std::uint32_t i = 0; i < count; ++i, ++next)
            fat[next] = mark ? mark : (i + 1 < count ? next + 1 : EndOfChain);
        return first;
    };
    allocate(fatSectors, FatSector);
    const std::uint32_t difatStart = allocate(difatSectors, DifatSector);
    layout_.fatSectors = fatSectors;
    layout_.difatSectors = difatSectors;
    layout_.directoryStart = allocate(directorySectors, 0);
    layout_.miniFatStart = allocate(miniFatSectors, 0);
    const std::uint32_t miniStreamStart = allocate(miniStreamSectors, 0);
    for (Node& node : nodes_)
        if (!node.storage && node.content.size() >= 4096)
            node.start = allocate(sectorsFor(node.content.size(), sectorSize), 0);

    std::string file(layout_.sectorOffset(totalSectors), '\0');
    const auto sector = [&](std::uint32_t s) { return layout_.sectorOffset(s); };
    // Header.
    const std::string signature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    file.replace(0, 8, signature);
    file[24] = 0x3E;
    file[26] = static_cast<char>(major_);
    file[28] = '\xFE';
    file[29] = '\xFF';
    file[30] = major_ == 4 ? 12 : 9;
    file[32] = 6;
    put32(file, 40, major_ == 4 ? directorySectors : 0);
    put32(file, 44, fatSectors);
    put32(file, 48, layout_.directoryStart);
    put32(file, 56, 4096);
    put32(file, 60, layout_.miniFatStart);
    put32(file, 64, miniFatSectors);
    put32(file, 68, difatStart);
    put32(file, 72, difatSectors);
    for (std::uint32_t i = 0; i < 109; ++i)
        put32(file, 76 + 4 * i, i < fatSectors ? i : FreeSector);
    // DIFAT sectors: the FAT sectors after the first 109, and the next one.
    for (std::uint32_t d = 0; d < difatSectors; ++d) {
        for (std::uint32_t i = 0; i + 1 < perSector; ++i) {
            const std::uint32_t fatIndex = 109 + d * (perSector - 1) + i;
            put32(file, sector(difatStart + d) + 4 * i, fatIndex < fatSectors ? fatIndex : FreeSector);
        }
        put32(file, sector(difatStart + d) + 4 * (perSector - 1), d + 1 < difatSectors ? difatStart + d + 1 : EndOfChain);
    }
    for (std::size_t i = 0; i < fat.size(); ++i)
        put32(file, sector(static_cast<std::uint32_t>(i / perSector)) + 4 * (i % perSector), fat[i]);
    for (std::size_t i = 0; i < miniFat.size(); ++i)
        put32(file, sector(layout_.miniFatStart) + 4 * i, miniFat[i]);
    for (std::size_t i = miniFat.size(); i < miniFatSectors * std::size_t{perSector}; ++i)
        put32(file, sector(layout_.miniFatStart) + 4 * i, FreeSector);
    if (!miniStream.empty())
        file.replace(sector(miniStreamStart), miniStream.size(), miniStream);
    for (const Node& node : nodes_)
        if (!node.storage && node.content.size() >= 4096)
            file.replace(sector(node.start), node.content.size(), node.content);

    // Directory: the entries, then unused ones up to the end of the sector.
    for (std::uint32_t id = 0; id < directorySectors * (sectorSize / 128); ++id) {
        const std::uint64_t at = layout_.entryOffset(id);
        put32(file, at + 68, FreeSector);
        put32(file, at + 72, FreeSector);
        put32(file, at + 76, FreeSector);
    }
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        const Node& node = nodes_[i];
        const std::uint64_t at = layout_.entryOffset(node.id);
        for (std::size_t c = 0; c < node.name.size() && c < 31; ++c) {
            file[at + 2 * c] = static_cast<char>(node.name[c] & 0xFF);
            file[at + 2 * c + 1] = static_cast<char>(node.name[c] >> 8);
        }
        file[at + 64] = static_cast<char>((std::min<std::size_t>(node.name.size(), 31) + 1) * 2);
        file[at + 66] = i == 0 ? 5 : node.storage ? 1 : 2;
        file[at + 67] = 1; // black
        put32(file, at + 68, node.left);
        put32(file, at + 72, node.right);
        put32(file, at + 76, node.child);
        put32(file, at + 116, i == 0 ? miniStreamStart : node.start);
        put64(file, at + 120, i == 0 ? miniStream.size() : node.content.size());
    }
    return file;
}

} // namespace pelorus::test
