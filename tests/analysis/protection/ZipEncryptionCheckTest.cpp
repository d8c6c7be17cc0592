#include "analysis/protection/ZipEncryptionCheck.h"

#include "Tools.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using MAIL::ZipEncryptionCheck;
using pelorus::test::readFile;
using pelorus::test::runTool;
using pelorus::test::TempDir;
using pelorus::test::writeFile;

namespace {

struct Counts {
    int files = 0;
    int encrypted = 0;
    bool allEncrypted = false;
    bool operator==(const Counts&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Counts& c)
{
    return out << c.files << " files, " << c.encrypted << " encrypted" << (c.allEncrypted ? ", all" : "");
}

Counts walkFile(const std::string& path)
{
    ZipEncryptionCheck zip;
    zip.load(path.c_str());
    Counts counts{zip.walk(), zip.getEncryptedEntries(), zip.isAllEncrypted()};
    zip.release();
    return counts;
}

// Walks a copy of exactly these bytes, so that reading past them is caught.
Counts walkBytes(const std::string& bytes)
{
    const std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    ZipEncryptionCheck zip;
    zip.view(copy);
    return {zip.walk(), zip.getEncryptedEntries(), zip.isAllEncrypted()};
}

int loadFailure(const char* path)
{
    try {
        return ZipEncryptionCheck().load(path);
    } catch (int code) {
        return code;
    }
}

std::string le16(unsigned v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string le32(unsigned v) { return le16(v & 0xFFFF) + le16(v >> 16); }

// A local header with a two-byte name and 8 bytes of data (32 + 8 bytes).
std::string localEntry(unsigned flags, const std::string& data = std::string(8, 'd'))
{
    return "PK\x03\x04" + le16(20) + le16(flags) + le16(0) + le32(0) + le32(0) + le32(flags & 8 ? 0 : data.size()) +
           le32(data.size()) + le16(2) + le16(0) + "ab" + data;
}

// A central directory header (48 bytes with its two-byte name).
std::string centralEntry(unsigned flags, const std::string& name = "ab")
{
    return "PK\x01\x02" + le16(20) + le16(20) + le16(flags) + le16(0) + le32(0) + le32(0) + le32(8) + le32(8) +
           le16(name.size()) + le16(0) + le16(0) + le16(0) + le16(0) + le32(0) + le32(0) + name;
}

std::string endRecord(unsigned entries) { return "PK\x05\x06" + le32(0) + le16(entries) + le16(entries) + le32(0) + le32(0) + le16(0); }

} // namespace

TEST(ZipEncryptionCheck, JudgesWhatZipAnd7zWrite)
{
    if (!pelorus::test::haveTool("zip") || !pelorus::test::haveTool("7z"))
        GTEST_SKIP() << "zip or 7z is not installed";
    TempDir dir;
    writeFile(dir / "a.txt", std::string(5000, 'a'));
    writeFile(dir / "b.bin", readFile("/proc/self/exe").substr(0, 300000));
    ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0700), 0);
    writeFile(dir / "folder/c.txt", "c");
    struct Case {
        const char* name;
        std::vector<std::vector<std::string>> commands;
        Counts expected;
    };
    const Case cases[] = {
        {"zip -P, one file", {{"zip", "-q", "-P", "pw", "out.zip", "a.txt"}}, {1, 1, true}},
        {"zip -P, files and a folder", {{"zip", "-q", "-r", "-P", "pw", "out.zip", "a.txt", "b.bin", "folder"}}, {3, 3, true}},
        {"zip -P through a pipe (data descriptors)", {{"sh", "-c", "zip -q -P pw - a.txt b.bin | cat > out.zip"}}, {2, 2, true}},
        {"7z AES-256", {{"7z", "a", "-tzip", "-ppw", "-mem=AES256", "out.zip", "a.txt", "b.bin"}}, {2, 2, true}},
        {"7z AES-256 with a folder", {{"7z", "a", "-tzip", "-ppw", "-mem=AES256", "out.zip", "folder"}}, {1, 1, true}},
        {"zip, plain", {{"zip", "-q", "-r", "out.zip", "a.txt", "folder"}}, {2, 0, false}},
        {"7z, plain", {{"7z", "a", "-tzip", "out.zip", "a.txt"}}, {1, 0, false}},
        {"one encrypted, one plain", {{"zip", "-q", "-P", "pw", "out.zip", "a.txt"}, {"zip", "-q", "out.zip", "b.bin"}}, {2, 1, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink((dir / "out.zip").c_str());
        for (const auto& command : c.commands) {
            std::string output;
            ASSERT_EQ(runTool(command, &output, dir.path()), 0) << output;
        }
        EXPECT_EQ(walkFile(dir / "out.zip"), c.expected);
    }
}

TEST(ZipEncryptionCheck, WalksDamagedAndUnusualArchivesWithinTheirBytes)
{
    const std::string twoEncrypted = localEntry(1) + localEntry(1) + centralEntry(1) + centralEntry(1) + endRecord(2);
    struct Case {
        const char* name;
        std::string bytes;
        Counts expected;
    };
    const Case cases[] = {
        {"two encrypted entries", twoEncrypted, {2, 2, true}},
        {"cut before the central directory", twoEncrypted.substr(0, 80), {0, 0, false}},
        {"cut inside the second central header", twoEncrypted.substr(0, 80 + 48 + 20), {2, 1, false}},
        {"descriptors without their signature", localEntry(9) + localEntry(9) + centralEntry(9) + centralEntry(9) + endRecord(2), {2, 2, true}},
        {"descriptor found after the data", localEntry(9, std::string(8, 'd') + "PK\x07\x08" + std::string(12, 'x')) + centralEntry(9) + endRecord(1),
         {1, 1, true}},
        {"folder entry only", localEntry(0) + centralEntry(0, "dir/") + endRecord(1), {0, 0, false}},
        {"entry with an empty name", localEntry(1) + centralEntry(1, "") + endRecord(1), {1, 1, true}},
        {"sizes past the end", localEntry(1).substr(0, 18) + le32(0xFFFFFFF0) + localEntry(1).substr(22), {0, 0, false}},
        {"no end record", localEntry(1) + centralEntry(1), {1, 1, true}},
        {"the end record ends the walk", localEntry(1) + centralEntry(1) + endRecord(1) + centralEntry(0), {1, 1, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(walkBytes(c.bytes), c.expected);
    }
    // Cut anywhere, the walk sees at most the entries of the whole archive.
    for (std::size_t size = 0; size <= twoEncrypted.size(); ++size)
        EXPECT_LE(walkBytes(twoEncrypted.substr(0, size)).files, 2) << size;
}

TEST(ZipEncryptionCheck, LoadFailuresAreCodes)
{
    TempDir dir;
    writeFile(dir / "short.zip", "PK\x03");
    writeFile(dir / "empty.zip", endRecord(0));
    writeFile(dir / "program.zip", "MZ" + std::string(100, '\0'));
    writeFile(dir / "good.zip", localEntry(1) + centralEntry(1) + endRecord(1));
    EXPECT_EQ(loadFailure(nullptr), ZipEncryptionCheck::NoPath);
    EXPECT_EQ(loadFailure((dir / "missing.zip").c_str()), ZipEncryptionCheck::Missing);
    EXPECT_EQ(loadFailure(dir.path().c_str()), ZipEncryptionCheck::CannotOpen);
    EXPECT_EQ(loadFailure((dir / "short.zip").c_str()), ZipEncryptionCheck::TooShort);
    EXPECT_EQ(loadFailure((dir / "empty.zip").c_str()), ZipEncryptionCheck::NotZip);
    EXPECT_EQ(loadFailure((dir / "program.zip").c_str()), ZipEncryptionCheck::NotZip);
    EXPECT_EQ(loadFailure((dir / "good.zip").c_str()), 0);
}
