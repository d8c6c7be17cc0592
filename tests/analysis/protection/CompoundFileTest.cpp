#include "analysis/protection/CompoundFile.h"

#include "CompoundFileWriter.h"
#include "Tools.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>

using MAIL::CompoundFile;
using MAIL::MemorySource;
using pelorus::test::CompoundFileWriter;
using pelorus::test::get32;
using pelorus::test::put32;
using pelorus::test::put64;
using pelorus::test::TempDir;
using Status = CompoundFile::Status;

namespace {

std::span<const std::uint8_t> bytesOf(const std::string& s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

// A pattern that differs from sector to sector, so a wrong chain shows.
std::string pattern(std::size_t size, char seed)
{
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>(seed + i * 7 + i / 64);
    return s;
}

// A file with nested storages, mini-stream and regular streams.
CompoundFileWriter sampleWriter(int version, CompoundFileWriter::Tree tree)
{
    CompoundFileWriter writer(version, tree);
    writer.addStream(u"WordDocument", pattern(300, 'a'));
    writer.addStream(u"Data", pattern(5000, 'b'));
    writer.addStream(u"Empty", "");
    writer.addStream(u"\x06" u"DataSpaces/TransformInfo/DRMEncryptedTransform/\x06" u"Primary", pattern(80, 'c'));
    writer.addStream(u"\x06" u"DataSpaces/Version", pattern(76, 'd'));
    writer.addStream(u"Ünïcode/дело", pattern(10, 'e'));
    for (char c = 'A'; c <= 'M'; ++c)
        writer.addStream(u"Many/Stream" + std::u16string(1, c), std::string(1, c));
    return writer;
}

// The first count bytes of the stream at path, and how the reader fared.
std::pair<Status, std::string> readStream(const CompoundFile& file, const std::vector<std::u16string_view>& path,
                                          std::size_t count)
{
    CompoundFile::Entry entry;
    Status status = file.root(entry);
    for (const auto name : path) {
        CompoundFile::Entry next;
        if (status == Status::Ok)
            status = file.find(entry, name, next);
        entry = next;
    }
    std::vector<std::uint8_t> bytes;
    if (status == Status::Ok)
        status = file.readStart(entry, count, bytes);
    return {status, std::string(bytes.begin(), bytes.end())};
}

std::uint32_t crc32(const std::vector<std::uint8_t>& bytes)
{
    std::uint32_t crc = 0xFFFFFFFF;
    for (const std::uint8_t b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

// Every stream under storage, storages recursed into: "path" -> "length crc".
// Control characters in names are written as #<code>, others outside ASCII as ?.
void listStreams(const CompoundFile& file, const CompoundFile::Entry& storage, const std::string& prefix,
                 std::map<std::string, std::string>& out)
{
    std::vector<CompoundFile::Entry> children;
    ASSERT_EQ(file.children(storage, children), Status::Ok);
    for (const auto& child : children) {
        std::string name = prefix;
        for (const char16_t c : child.name)
            name += c < 0x20 ? "#" + std::to_string(c) : c < 0x80 ? std::string(1, static_cast<char>(c)) : "?";
        if (child.isStorage()) {
            listStreams(file, child, name + "/", out);
            continue;
        }
        std::vector<std::uint8_t> bytes;
        ASSERT_EQ(file.readStart(child, child.size, bytes), Status::Ok) << name;
        out[name] = std::to_string(bytes.size()) + " " + std::to_string(crc32(bytes));
    }
}

} // namespace

TEST(CompoundFile, FindsEntriesByNameAndReadsTheirStart)
{
    struct Case {
        const char* name;
        std::vector<std::u16string_view> path;
        std::size_t count;
        Status status;
        std::string bytes;
    };
    const Case cases[] = {
        {"across mini sectors", {u"WordDocument"}, 200, Status::Ok, pattern(300, 'a').substr(0, 200)},
        {"across sectors", {u"Data"}, 4700, Status::Ok, pattern(5000, 'b').substr(0, 4700)},
        {"no more than the stream holds", {u"WordDocument"}, 1000, Status::Ok, pattern(300, 'a')},
        {"an empty stream", {u"Empty"}, 32, Status::Ok, ""},
        {"names in other case", {u"WORDdocument"}, 4, Status::Ok, pattern(4, 'a')},
        {"Latin-1 and Cyrillic in other case", {u"üNÏCODE", u"ДЕЛО"}, 10, Status::Ok, pattern(10, 'e')},
        {"control characters, four deep", {u"\x06" u"dataspaces", u"TransformInfo", u"DRMEncryptedTransform", u"\x06" u"Primary"}, 100,
         Status::Ok, pattern(80, 'c')},
        {"among many siblings", {u"Many", u"StreamG"}, 4, Status::Ok, "G"},
        {"a prefix is no match", {u"WordDocumen"}, 4, Status::NotFound, ""},
        {"not there", {u"Many", u"StreamZ"}, 4, Status::NotFound, ""},
        {"a stream has no children", {u"WordDocument", u"Inner"}, 4, Status::NotFound, ""},
        {"a storage has no bytes", {u"Many"}, 4, Status::NotFound, ""},
    };
    for (const int version : {3, 4})
        for (const auto tree : {CompoundFileWriter::Tree::Balanced, CompoundFileWriter::Tree::UnsortedChain}) {
            const std::string bytes = sampleWriter(version, tree).build();
            MemorySource source(bytesOf(bytes));
            CompoundFile file;
            ASSERT_EQ(file.open(source), Status::Ok);
            EXPECT_EQ(file.majorVersion(), version);
            for (const Case& c : cases)
                EXPECT_EQ(readStream(file, c.path, c.count), std::pair(c.status, c.bytes))
                    << c.name << ", version " << version << (tree == CompoundFileWriter::Tree::Balanced ? "" : ", unsorted tree");
        }
}

TEST(CompoundFile, DifatChainThatLoopsIsDamage)
{
    // 7.5 MB in 512-byte sectors needs more FAT sectors than the header's
    // 109. The last DIFAT sector is made to point back at the first (or at
    // itself); the FAT sectors announced are then never all listed.
    CompoundFileWriter writer(3);
    writer.addStream(u"Big", pattern(7'500'000, 'x'));
    std::string bytes = writer.build();
    const auto& layout = writer.layout();
    ASSERT_GT(layout.difatSectors, 0u);
    const std::uint32_t firstDifat = layout.fatSectors;
    put32(bytes, layout.sectorOffset(firstDifat + layout.difatSectors - 1) + 508, firstDifat);
    put32(bytes, 44, get32(bytes, 44) + 200);
    MemorySource source(bytesOf(bytes));
    CompoundFile file;
    EXPECT_EQ(file.open(source), Status::NotCompoundFile);
}

TEST(CompoundFile, DamagedFilesAreNotCompoundFiles)
{
    // Each case damages a sample file; the fault must show as
    // NotCompoundFile at open, at the lookup or at the read, and never as
    // an answer.
    using Damage = std::function<void(std::string&, const CompoundFileWriter&)>;
    struct Case {
        const char* name;
        int version;
        Damage damage;
    };
    const auto entry = [](const CompoundFileWriter& w, std::u16string_view path) { return w.layout().entryOffset(w.idOf(path)); };
    const Case cases[] = {
        {"signature changed", 3, [](std::string& b, auto&) { b[7] = 0; }},
        {"major version 5", 3, [](std::string& b, auto&) { b[26] = 5; }},
        {"absurd FAT sector count", 4, [](std::string& b, auto&) { put32(b, 44, 0xFFFFFFF0); }},
        {"FAT sector past the end", 3, [](std::string& b, auto&) { put32(b, 76, 0x00100000); }},
        {"directory chain loops", 3,
         [](std::string& b, const CompoundFileWriter& w) {
             const auto& l = w.layout();
             put32(b, l.fatEntryOffset(l.directoryStart + 1), l.directoryStart);
         }},
        {"mini FAT chain loops", 3,
         [](std::string& b, const CompoundFileWriter& w) { put32(b, w.layout().fatEntryOffset(w.layout().miniFatStart), w.layout().miniFatStart); }},
        {"regular stream chain loops", 3,
         [](std::string& b, const CompoundFileWriter& w) {
             const auto start = w.startOf(u"Data");
             put32(b, w.layout().fatEntryOffset(start + 1), start);
         }},
        {"regular stream ends early", 4,
         [](std::string& b, const CompoundFileWriter& w) { put32(b, w.layout().fatEntryOffset(w.startOf(u"Data")), 0xFFFFFFFE); }},
        {"stream size beyond the file", 4,
         [&](std::string& b, const CompoundFileWriter& w) { put64(b, entry(w, u"Data") + 120, 1ull << 40); }},
        {"mini stream chain loops", 3,
         [&](std::string& b, const CompoundFileWriter& w) {
             const std::uint64_t miniFat = w.layout().sectorOffset(w.layout().miniFatStart);
             const auto start = w.startOf(u"WordDocument");
             put32(b, miniFat + 4 * (start + 2), start);
         }},
        {"mini stream piece past the mini stream", 4,
         [&](std::string& b, const CompoundFileWriter& w) { put32(b, entry(w, u"WordDocument") + 116, 5000); }},
        {"root's mini stream larger than its chain", 3, [&](std::string& b, const CompoundFileWriter& w) { put64(b, w.layout().entryOffset(0) + 120, 1 << 20); }},
        {"sibling tree loops", 3,
         [&](std::string& b, const CompoundFileWriter& w) { put32(b, entry(w, u"Data") + 68, w.idOf(u"Data")); }},
        {"child link out of range", 4,
         [&](std::string& b, const CompoundFileWriter& w) { put32(b, w.layout().entryOffset(0) + 76, 100000); }},
        {"sibling link to an unused entry", 3,
         [&](std::string& b, const CompoundFileWriter& w) { put32(b, entry(w, u"Data") + 72, 60); }},
        {"storage inside itself", 3,
         [&](std::string& b, const CompoundFileWriter& w) { put32(b, entry(w, u"Many") + 76, w.idOf(u"Many")); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CompoundFileWriter writer = sampleWriter(c.version, CompoundFileWriter::Tree::Balanced);
        std::string bytes = writer.build();
        c.damage(bytes, writer);
        MemorySource source(bytesOf(bytes));
        CompoundFile file;
        Status status = file.open(source);
        CompoundFile::Entry root;
        std::vector<CompoundFile::Entry> all;
        if (status == Status::Ok && (status = file.root(root)) == Status::Ok)
            status = file.children(root, all);
        for (const auto& path : {std::vector<std::u16string_view>{u"Data"}, {u"WordDocument"}, {u"Many", u"StreamA"}})
            if (status == Status::Ok)
                status = readStream(file, path, 1 << 20).first;
        EXPECT_EQ(status, Status::NotCompoundFile);
    }
}

TEST(CompoundFile, TruncatedFilesFailOrReadTheRightBytes)
{
    for (const int version : {3, 4}) {
        const std::string whole = sampleWriter(version, CompoundFileWriter::Tree::Balanced).build();
        const std::size_t step = version == 3 ? 97 : 509;
        for (std::size_t size = 0; size < whole.size(); size += step) {
            SCOPED_TRACE("version " + std::to_string(version) + " cut at " + std::to_string(size));
            const std::string cut = whole.substr(0, size);
            MemorySource source(bytesOf(cut));
            CompoundFile file;
            if (file.open(source) != Status::Ok)
                continue;
            for (const auto& [name, whole] : {std::pair{u"WordDocument", pattern(300, 'a')}, {u"Data", pattern(5000, 'b')}}) {
                const auto [status, read] = readStream(file, {name}, 5000);
                EXPECT_TRUE(status == Status::NotCompoundFile || read == whole);
            }
        }
    }
}

TEST(CompoundFile, OlefileAgreesWithTheWriterAndTheReader)
{
    if (!pelorus::test::haveTool("/usr/bin/python3"))
        GTEST_SKIP() << "python3 is not installed";
    TempDir dir;
    std::vector<std::string> paths;
    std::map<std::string, std::map<std::string, std::string>> ours;
    int n = 0;
    for (const int version : {3, 4})
        for (const auto tree : {CompoundFileWriter::Tree::Balanced, CompoundFileWriter::Tree::UnsortedChain}) {
            // The version 3 files need DIFAT sectors; "After" has its FAT
            // entries in a FAT sector only the DIFAT lists.
            CompoundFileWriter writer = sampleWriter(version, tree);
            writer.addStream(u"Big", pattern(version == 3 ? 7'200'000 : 20000, 'q'));
            writer.addStream(u"After", pattern(9000, 'r'));
            const std::string bytes = writer.build();
            EXPECT_EQ(writer.layout().difatSectors > 0, version == 3);
            const std::string path = dir / ("sample" + std::to_string(++n) + ".cfb");
            pelorus::test::writeFile(path, bytes);
            paths.push_back(path);
            MemorySource source(bytesOf(bytes));
            CompoundFile file;
            ASSERT_EQ(file.open(source), Status::Ok);
            CompoundFile::Entry root;
            ASSERT_EQ(file.root(root), Status::Ok);
            listStreams(file, root, "", ours[path]);
        }

    // olefile, strict about defects, lists every stream with its length
    // and checksum.
    std::vector<std::string> argv{"/usr/bin/python3", "-c", R"(
import sys, zlib, olefile
for path in sys.argv[1:]:
    ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)
    for entry in ole.listdir(streams=True, storages=False):
        name = '/'.join(''.join('#%d' % ord(c) if ord(c) < 32 else (c if ord(c) < 128 else '?') for c in part) for part in entry)
        data = ole.openstream(entry).read()
        assert len(data) == ole.get_size(entry)
        print(path, name, '%d %d' % (len(data), zlib.crc32(data)), sep='\t')
)"};
    argv.insert(argv.end(), paths.begin(), paths.end());
    std::string output;
    const int status = pelorus::test::runTool(argv, &output);
    if (status != 0 && output.find("No module named 'olefile'") != std::string::npos)
        GTEST_SKIP() << "python3-olefile is not installed";
    ASSERT_EQ(status, 0) << output;
    std::map<std::string, std::map<std::string, std::string>> theirs;
    std::istringstream lines(output);
    for (std::string path, name, line; std::getline(lines, path, '\t') && std::getline(lines, name, '\t') && std::getline(lines, line);)
        theirs[path][name] = line;
    for (const auto& path : paths) {
        EXPECT_EQ(ours[path], theirs[path]) << path;
        EXPECT_EQ(ours[path].size(), 21u);
    }
}
