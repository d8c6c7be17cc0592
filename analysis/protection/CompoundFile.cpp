#include "analysis/protection/CompoundFile.h"

#include <algorithm>
#include <array>

namespace MAIL {

namespace {

constexpr std::array<std::uint8_t, 8> Signature{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t EndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t FreeSector = 0xFFFFFFFF;
constexpr std::uint32_t NoStream = 0xFFFFFFFF;
constexpr std::uint64_t LastRegularSector = 0xFFFFFFF9;
constexpr std::size_t HeaderSize = 512;
constexpr std::size_t HeaderDifatEntries = 109;
constexpr std::size_t EntrySize = 128;
constexpr std::uint64_t MiniSectorSize = 64;
constexpr std::uint64_t MiniStreamCutoff = 4096;

std::uint16_t u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::uint32_t u32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t u64(const std::uint8_t* p) { return u32(p) | static_cast<std::uint64_t>(u32(p + 4)) << 32; }

// Simple upper-case mapping of one UTF-16 unit, as the format's name
// comparison uses it: ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic and
// the full-width Latin letters. Other units compare as they are.
char16_t upper(char16_t c)
{
    if (c < 0x80)
        return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
    if (c == 0xB5)
        return 0x39C;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x131)
            return u'I';
        if (c == 0x17F)
            return u'S';
        if (c == 0x138 || c == 0x149)
            return c;
        const bool oddIsUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        return (c % 2 == 0) == oddIsUpper ? static_cast<char16_t>(c - 1) : c;
    }
    if (c == 0x3C2)
        return 0x3A3;
    if (c >= 0x3B1 && c <= 0x3CB)
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x430 && c <= 0x44F)
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<char16_t>(c - 0x50);
    if (c >= 0xFF41 && c <= 0xFF5A)
        return static_cast<char16_t>(c - 0x20);
    return c;
}

} // namespace

bool CompoundFile::sameName(std::u16string_view a, std::u16string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return upper(x) == upper(y); });
}

CompoundFile::Status CompoundFile::probe(const ByteSource& source)
{
    std::array<std::uint8_t, Signature.size()> head{};
    const std::int64_t got = source.readAt(0, head);
    if (got < 0)
        return Status::ReadFailed;
    return got == static_cast<std::int64_t>(head.size()) && head == Signature ? Status::Ok : Status::NotCompoundFile;
}

// Reads part of a sector. Sectors lie wholly inside the file; one that
// does not (the file shrank) is damage too.
CompoundFile::Status CompoundFile::readSector(std::uint32_t sector, std::uint32_t offset,
                                              std::span<std::uint8_t> into) const
{
    if (sector >= sectorCount_ || offset + into.size() > sectorSize_)
        return Status::NotCompoundFile;
    const std::uint64_t at = (static_cast<std::uint64_t>(sector) + 1) * sectorSize_ + offset;
    const std::int64_t got = source_->readAt(at, into);
    if (got < 0)
        return Status::ReadFailed;
    return got == static_cast<std::int64_t>(into.size()) ? Status::Ok : Status::NotCompoundFile;
}

// The sectors of the chain that begins at start. A chain longer than the
// file has sectors has a cycle.
CompoundFile::Status CompoundFile::chain(std::uint32_t start, std::vector<std::uint32_t>& sectors) const
{
    sectors.clear();
    for (std::uint32_t sector = start; sector != EndOfChain;) {
        if (sector >= sectorCount_ || sector >= fat_.size() || sectors.size() >= sectorCount_)
            return Status::NotCompoundFile;
        sectors.push_back(sector);
        sector = fat_[sector];
    }
    return Status::Ok;
}

CompoundFile::Status CompoundFile::open(const ByteSource& source)
{
    *this = CompoundFile();
    source_ = &source;

    std::array<std::uint8_t, HeaderSize> header{};
    const std::int64_t got = source.readAt(0, header);
    if (got < 0)
        return Status::ReadFailed;
    if (got != static_cast<std::int64_t>(header.size()) || !std::equal(Signature.begin(), Signature.end(), header.begin()))
        return Status::NotCompoundFile;
    major_ = u16(&header[26]);
    sectorShift_ = u16(&header[30]);
    if (!((major_ == 3 && sectorShift_ == 9) || (major_ == 4 && sectorShift_ == 12)) || u16(&header[28]) != 0xFFFE ||
        u16(&header[32]) != 6 || u32(&header[56]) != MiniStreamCutoff)
        return Status::NotCompoundFile;
    sectorSize_ = 1u << sectorShift_;
    // The header takes the place of sector -1, a whole sector in version 4.
    // Only whole sectors count: a file cut inside a sector has lost it.
    const std::uint64_t size = source.size();
    sectorCount_ = size > sectorSize_ ? (size - sectorSize_) / sectorSize_ : 0;
    sectorCount_ = std::min(sectorCount_, LastRegularSector + 1);

    // The FAT's sectors: 109 listed in the header, the rest in the DIFAT
    // chain, whose own count in the header is not needed and not trusted.
    const std::uint64_t fatSectorCount = u32(&header[44]);
    if (fatSectorCount == 0 || fatSectorCount > sectorCount_)
        return Status::NotCompoundFile;
    const std::uint32_t perSector = sectorSize_ / 4;
    std::vector<std::uint32_t> fatSectors;
    fatSectors.reserve(fatSectorCount);
    for (std::size_t i = 0; i < HeaderDifatEntries && fatSectors.size() < fatSectorCount; ++i)
        fatSectors.push_back(u32(&header[76 + 4 * i]));
    std::vector<std::uint8_t> sector(sectorSize_);
    std::uint64_t difatSteps = 0;
    for (std::uint32_t next = u32(&header[68]); fatSectors.size() < fatSectorCount;) {
        if (next >= sectorCount_ || ++difatSteps > sectorCount_)
            return Status::NotCompoundFile;
        if (const Status s = readSector(next, 0, sector); s != Status::Ok)
            return s;
        for (std::uint32_t i = 0; i + 1 < perSector && fatSectors.size() < fatSectorCount; ++i)
            fatSectors.push_back(u32(&sector[4 * i]));
        next = u32(&sector[4 * (perSector - 1)]);
    }
    fat_.resize(fatSectorCount * perSector);
    for (std::size_t i = 0; i < fatSectors.size(); ++i) {
        if (const Status s = readSector(fatSectors[i], 0, sector); s != Status::Ok)
            return s;
        for (std::uint32_t j = 0; j < perSector; ++j)
            fat_[i * perSector + j] = u32(&sector[4 * j]);
    }

    std::vector<std::uint32_t> sectors;
    if (const Status s = chain(u32(&header[48]), sectors); s != Status::Ok)
        return s;
    if (sectors.empty())
        return Status::NotCompoundFile;
    directory_.resize(sectors.size() * sectorSize_);
    for (std::size_t i = 0; i < sectors.size(); ++i)
        if (const Status s = readSector(sectors[i], 0, std::span(directory_).subspan(i * sectorSize_, sectorSize_));
            s != Status::Ok)
            return s;

    // No mini FAT is written as an end of chain, by some writers as a free
    // sector.
    const std::uint32_t miniFatStart = u32(&header[60]);
    if (const Status s = chain(miniFatStart == FreeSector ? EndOfChain : miniFatStart, sectors); s != Status::Ok)
        return s;
    miniFat_.resize(sectors.size() * perSector);
    for (std::size_t i = 0; i < sectors.size(); ++i) {
        if (const Status s = readSector(sectors[i], 0, sector); s != Status::Ok)
            return s;
        for (std::uint32_t j = 0; j < perSector; ++j)
            miniFat_[i * perSector + j] = u32(&sector[4 * j]);
    }

    // The mini stream is the root entry's data. A file whose entry 0 is no
    // root storage opens, but root() refuses it.
    const Entry rootEntry = entryAt(0);
    if (rootEntry.type == Type::Root && rootEntry.size > 0) {
        if (const Status s = chain(rootEntry.start, miniStream_); s != Status::Ok)
            return s;
        if (rootEntry.size > static_cast<std::uint64_t>(miniStream_.size()) * sectorSize_)
            return Status::NotCompoundFile;
        miniStreamSize_ = rootEntry.size;
    }
    return Status::Ok;
}

CompoundFile::Entry CompoundFile::entryAt(std::uint32_t id) const
{
    const std::uint8_t* p = &directory_[static_cast<std::size_t>(id) * EntrySize];
    Entry entry;
    entry.id = id;
    // The stored length counts the terminating NUL, in bytes.
    const std::size_t units = std::min<std::size_t>(u16(p + 64) / 2, 32);
    for (std::size_t i = 0; i + 1 < units; ++i) {
        const char16_t c = static_cast<char16_t>(u16(p + 2 * i));
        if (c == 0)
            break;
        entry.name.push_back(c);
    }
    const std::uint8_t type = p[66];
    entry.type = type == 1 || type == 2 || type == 5 ? static_cast<Type>(type) : Type::Unused;
    entry.left = u32(p + 68);
    entry.right = u32(p + 72);
    entry.child = u32(p + 76);
    entry.start = u32(p + 116);
    // Version 3 files may hold anything in the high half of the size.
    entry.size = major_ == 3 ? u32(p + 120) : u64(p + 120);
    return entry;
}

CompoundFile::Status CompoundFile::root(Entry& out) const
{
    if (source_ == nullptr || entryCount() == 0)
        return Status::NotCompoundFile;
    Entry entry = entryAt(0);
    if (entry.type != Type::Root)
        return Status::NotCompoundFile;
    out = std::move(entry);
    return Status::Ok;
}

CompoundFile::Status CompoundFile::children(const Entry& storage, std::vector<Entry>& out) const
{
    out.clear();
    if (!storage.isStorage())
        return Status::NotFound;
    // The children form a binary tree through their left and right links.
    // Every node is visited at most once: a link back to a visited node, to
    // an entry out of range or to an unused entry means the file is damaged.
    std::vector<bool> seen(entryCount());
    if (storage.id < seen.size())
        seen[storage.id] = true;
    std::vector<std::uint32_t> pending{storage.child};
    while (!pending.empty()) {
        const std::uint32_t id = pending.back();
        pending.pop_back();
        if (id == NoStream)
            continue;
        if (id >= entryCount() || seen[id])
            return Status::NotCompoundFile;
        seen[id] = true;
        Entry entry = entryAt(id);
        if (entry.type != Type::Storage && entry.type != Type::Stream)
            return Status::NotCompoundFile;
        pending.push_back(entry.left);
        pending.push_back(entry.right);
        out.push_back(std::move(entry));
    }
    return Status::Ok;
}

CompoundFile::Status CompoundFile::find(const Entry& storage, std::u16string_view name, Entry& out) const
{
    // Every child is compared rather than following the tree's order, so a
    // tree that a careless writer left unsorted is still searched right.
    std::vector<Entry> all;
    if (const Status s = children(storage, all); s != Status::Ok)
        return s;
    for (Entry& entry : all)
        if (sameName(entry.name, name)) {
            out = std::move(entry);
            return Status::Ok;
        }
    return Status::NotFound;
}

CompoundFile::Status CompoundFile::findPath(std::initializer_list<std::u16string_view> names, Entry& out) const
{
    Entry current;
    if (const Status s = root(current); s != Status::Ok)
        return s;
    for (const std::u16string_view name : names) {
        Entry next;
        if (const Status s = find(current, name, next); s != Status::Ok)
            return s;
        current = std::move(next);
    }
    out = std::move(current);
    return Status::Ok;
}

CompoundFile::Status CompoundFile::readStart(const Entry& stream, std::size_t count,
                                             std::vector<std::uint8_t>& out) const
{
    out.clear();
    if (!stream.isStream())
        return Status::NotFound;
    // The whole chain is walked, not only the part that is read: a chain
    // that loops or is shorter than the stream's size is damage even where
    // its start looks fine.
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(count, stream.size));
    if (stream.size < MiniStreamCutoff) {
        // Small streams live in 64-byte pieces of the mini stream, chained
        // by the mini FAT.
        std::vector<std::uint32_t> pieces;
        for (std::uint32_t mini = stream.start; mini != EndOfChain; mini = miniFat_[mini]) {
            if (mini >= miniFat_.size() || (mini + 1ull) * MiniSectorSize > miniStreamSize_ ||
                pieces.size() >= miniFat_.size())
                return Status::NotCompoundFile;
            pieces.push_back(mini);
        }
        if (pieces.size() * MiniSectorSize < stream.size)
            return Status::NotCompoundFile;
        out.resize(wanted);
        for (std::size_t i = 0, done = 0; done < wanted; ++i) {
            const std::uint64_t at = pieces[i] * MiniSectorSize;
            const std::size_t take = std::min<std::size_t>(MiniSectorSize, wanted - done);
            if (const Status s = readSector(miniStream_[at >> sectorShift_], at & (sectorSize_ - 1),
                                            std::span(out).subspan(done, take));
                s != Status::Ok)
                return s;
            done += take;
        }
        return Status::Ok;
    }
    std::vector<std::uint32_t> sectors;
    if (const Status s = chain(stream.start, sectors); s != Status::Ok)
        return s;
    if (static_cast<std::uint64_t>(sectors.size()) * sectorSize_ < stream.size)
        return Status::NotCompoundFile;
    out.resize(wanted);
    for (std::size_t i = 0, done = 0; done < wanted; ++i) {
        const std::size_t take = std::min<std::size_t>(sectorSize_, wanted - done);
        if (const Status s = readSector(sectors[i], 0, std::span(out).subspan(done, take)); s != Status::Ok)
            return s;
        done += take;
    }
    return Status::Ok;
}

} // namespace MAIL
