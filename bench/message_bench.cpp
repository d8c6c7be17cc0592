// What the user waits for between the end of the data and the dialog: the
// header parse, Base64 decoding of attachment bodies (76-character lines, as
// mail writers lay them out; reported in bytes of output per second), and
// judging a 25 MB spooled mail with one attachment of each checked family:
// a PDF, a ZIP of many entries, a .docx package, a password-encrypted .docx
// container and a password-protected .xls (extraction, checks, deletion).
// Goals on the 2-core build machine: Base64 at 500 MB/s or more, the mail
// judged in under 0.25 s.
#include "analysis/message/AttachedFiles.h"
#include "analysis/message/Base64Decoder.h"
#include "analysis/message/MIMEFile.h"
#include "analysis/message/MailHeaderParser.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i + 4 <= size; i += 4) {
        const std::uint32_t value = random();
        bytes.replace(i, 4, reinterpret_cast<const char*>(&value), 4);
    }
    return bytes;
}

std::string base64Lines(const std::string& bytes)
{
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(bytes.size() / 57 * 78 + 80);
    for (std::size_t line = 0; line < bytes.size(); line += 57) {
        for (std::size_t i = line; i < std::min(line + 57, bytes.size()); i += 3) {
            unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
            if (i + 1 < bytes.size())
                group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
            if (i + 2 < bytes.size())
                group |= static_cast<unsigned char>(bytes[i + 2]);
            out += alphabet[group >> 18 & 63];
            out += alphabet[group >> 12 & 63];
            out += i + 1 < bytes.size() ? alphabet[group >> 6 & 63] : '=';
            out += i + 2 < bytes.size() ? alphabet[group & 63] : '=';
        }
        out += "\r\n";
    }
    return out;
}

void put16(std::string& out, std::uint16_t value) { out.append(reinterpret_cast<const char*>(&value), 2); }
void put32(std::string& out, std::uint32_t value) { out.append(reinterpret_cast<const char*>(&value), 4); }

// A ZIP of stored entries; flags and method as given (Office packages start
// with flags 6 and method 8).
std::string zipArchive(int entries, std::size_t entrySize, std::uint16_t flags, std::uint16_t method)
{
    std::string zip, central;
    for (int i = 0; i < entries; ++i) {
        const std::string name = "folder/entry" + std::to_string(i) + ".xml";
        const std::uint32_t offset = static_cast<std::uint32_t>(zip.size());
        put32(zip, 0x04034B50);
        for (std::uint16_t v : {std::uint16_t(20), flags, method, std::uint16_t(0), std::uint16_t(0)})
            put16(zip, v);
        for (std::uint32_t v : {0u, std::uint32_t(entrySize), std::uint32_t(entrySize)})
            put32(zip, v);
        put16(zip, static_cast<std::uint16_t>(name.size()));
        put16(zip, 0);
        zip += name + randomBytes(entrySize, static_cast<unsigned>(i));
        put32(central, 0x02014B50);
        for (std::uint16_t v : {std::uint16_t(20), std::uint16_t(20), flags, method, std::uint16_t(0), std::uint16_t(0)})
            put16(central, v);
        for (std::uint32_t v : {0u, std::uint32_t(entrySize), std::uint32_t(entrySize)})
            put32(central, v);
        for (std::uint16_t v : {std::uint16_t(name.size()), std::uint16_t(0), std::uint16_t(0), std::uint16_t(0),
                                std::uint16_t(0)})
            put16(central, v);
        put32(central, 0);
        put32(central, offset);
        central += name;
    }
    const std::uint32_t centralOffset = static_cast<std::uint32_t>(zip.size());
    zip += central;
    put32(zip, 0x06054B50);
    for (std::uint16_t v : {std::uint16_t(0), std::uint16_t(0), std::uint16_t(entries), std::uint16_t(entries)})
        put16(zip, v);
    put32(zip, static_cast<std::uint32_t>(central.size()));
    put32(zip, centralOffset);
    put16(zip, 0);
    return zip;
}

// A version 3 compound file (512-byte sectors) whose root holds the given
// streams, each at least 4096 bytes (so none lives in the mini stream),
// with names already in the directory's sort order.
std::string compoundFile(const std::vector<std::pair<std::string, std::string>>& streams)
{
    constexpr std::uint32_t End = 0xFFFFFFFE, Free = 0xFFFFFFFF, FatSector = 0xFFFFFFFD;
    const std::uint32_t dirSectors = static_cast<std::uint32_t>((streams.size() + 1 + 3) / 4);
    std::uint32_t dataSectors = dirSectors;
    for (const auto& stream : streams)
        dataSectors += static_cast<std::uint32_t>((stream.second.size() + 511) / 512);
    std::uint32_t fatSectors = 1;
    while (fatSectors * 128 < fatSectors + dataSectors)
        ++fatSectors;
    std::vector<std::uint32_t> fat(fatSectors * 128, Free);
    for (std::uint32_t i = 0; i < fatSectors; ++i)
        fat[i] = FatSector;
    std::uint32_t next = fatSectors;
    const auto chain = [&](std::uint32_t count) {
        const std::uint32_t start = next;
        for (std::uint32_t i = 0; i < count; ++i, ++next)
            fat[next] = i + 1 < count ? next + 1 : End;
        return start;
    };
    const std::uint32_t dirStart = chain(dirSectors);
    std::vector<std::uint32_t> starts;
    for (const auto& stream : streams)
        starts.push_back(chain(static_cast<std::uint32_t>((stream.second.size() + 511) / 512)));

    std::string file;
    file += std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(16, '\0');
    for (std::uint16_t v : {std::uint16_t(0x3E), std::uint16_t(3), std::uint16_t(0xFFFE), std::uint16_t(9),
                            std::uint16_t(6)})
        put16(file, v);
    file += std::string(6, '\0');
    for (std::uint32_t v : {0u, fatSectors, dirStart, 0u, 4096u, End, 0u, End, 0u})
        put32(file, v);
    for (std::uint32_t i = 0; i < 109; ++i)
        put32(file, i < fatSectors ? i : Free);
    for (std::uint32_t entry : fat)
        put32(file, entry);
    std::string directory;
    const auto entry = [&](const std::string& name, std::uint8_t type, std::uint32_t right, std::uint32_t child,
                           std::uint32_t start, std::uint32_t size) {
        std::string utf16;
        for (char c : name)
            put16(utf16, static_cast<unsigned char>(c));
        put16(utf16, 0);
        directory += utf16 + std::string(64 - utf16.size(), '\0');
        put16(directory, static_cast<std::uint16_t>(utf16.size()));
        directory += static_cast<char>(type);
        directory += '\x01';
        for (std::uint32_t v : {Free, right, child})
            put32(directory, v);
        directory += std::string(16 + 4 + 16, '\0');
        put32(directory, start);
        put32(directory, size);
        put32(directory, 0);
    };
    entry("Root Entry", 5, Free, streams.empty() ? Free : 1, End, 0);
    for (std::size_t i = 0; i < streams.size(); ++i)
        entry(streams[i].first, 2, i + 1 < streams.size() ? static_cast<std::uint32_t>(i + 2) : Free, Free,
              starts[i], static_cast<std::uint32_t>(streams[i].second.size()));
    directory.resize(dirSectors * 512, '\0');
    file += directory;
    for (const auto& stream : streams) {
        file += stream.second;
        file.resize((file.size() + 511) / 512 * 512, '\0');
    }
    return file;
}

struct SpooledMail {
    std::string folder;
    std::string spool;
    std::string boundary = "----=_Part_1234_5678.9012";
    std::size_t size = 0;
};

const SpooledMail& spooledMail()
{
    static const SpooledMail mail = [] {
        SpooledMail m;
        const char* base = std::getenv("TMPDIR");
        m.folder = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/pelorus-bench-XXXXXX";
        if (::mkdtemp(m.folder.data()) == nullptr)
            std::abort();
        m.spool = m.folder + "/{6F1A2B3C-4D5E-4F60-8172-93A4B5C6D7E8}.msg";

        std::string pdf = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n" + randomBytes(6'000'000, 1) +
                          "\ntrailer\n<< /Size 9 /Root 1 0 R /Encrypt 8 0 R >>\nstartxref\n116\n%%EOF\n";
        std::string xlsWorkbook("\x09\x08\x10\x00", 4);
        xlsWorkbook += std::string(16, '\0');
        xlsWorkbook += std::string("\x2F\x00\x06\x00", 4);  // FILEPASS after BOF
        xlsWorkbook += randomBytes(1'500'000, 2);
        const struct {
            const char* name;
            const char* type;
            std::string bytes;
        } files[] = {
            {"Quarterly report.pdf", "application/pdf", std::move(pdf)},
            {"Sources.zip", "application/zip", zipArchive(200, 30'000, 0, 0)},
            {"Minutes.docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
             zipArchive(40, 75'000, 6, 8)},
            {"Contract.docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
             compoundFile({{"EncryptionInfo", randomBytes(4096, 3)}, {"EncryptedPackage", randomBytes(2'000'000, 4)}})},
            {"Budget.xls", "application/vnd.ms-excel", compoundFile({{"Workbook", xlsWorkbook}})},
        };
        std::string text = "From: Alice <alice@example.org>\r\nTo: Bob <bob@example.net>\r\nSubject: Five files\r\n"
                           "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"" +
                           m.boundary + "\"\r\n\r\n--" + m.boundary +
                           "\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nSee attached.\r\n";
        for (const auto& file : files)
            text += "--" + m.boundary + "\r\nContent-Type: " + file.type + "; name=\"" + file.name +
                    "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"" +
                    file.name + "\"\r\n\r\n" + base64Lines(file.bytes);
        text += "--" + m.boundary + "--\r\n";
        m.size = text.size();
        std::ofstream(m.spool, std::ios::binary) << text;
        return m;
    }();
    // The 25 MB spool file goes when the program ends.
    static const struct Cleanup {
        ~Cleanup()
        {
            ::unlink(mail.spool.c_str());
            ::rmdir(mail.folder.c_str());
        }
    } cleanup;
    return mail;
}

void HeaderParse(benchmark::State& state)
{
    std::string header =
        "Received: from client.example.org (client.example.org [192.0.2.10])\r\n\tby smtp.example.net with ESMTPSA id "
        "abc123\r\n\tfor <bob@example.net>; Mon, 07 Dec 2026 06:29:47 +0000\r\n"
        "From: =?UTF-8?B?44Ki44Oq44K5?= <alice@example.org>\r\nTo: ";
    for (int i = 0; i < 30; ++i)
        header += (i > 0 ? ",\r\n " : "") + std::string("\"Recipient ") + std::to_string(i) + "\" <r" +
                  std::to_string(i) + "@example.net>";
    header += "\r\nCc: =?UTF-8?B?U21pdGgsIEpvaG4=?= <john@example.com>\r\n"
              "Subject: =?UTF-8?B?6KaL56mN5pu4?=\r\n =?ISO-2022-JP?B?GyRCJCIkJCQmGyhC?=\r\n"
              "Message-ID: <20261207062947.011236@client.example.org>\r\nMIME-Version: 1.0\r\n"
              "Content-Type: multipart/mixed;\r\n boundary=\"----=_Part_0_1\"\r\n\r\n";
    for (auto _ : state) {
        MAIL::MailHeaderParser parser;
        parser.parse(std::string_view(header));
        benchmark::DoNotOptimize(parser.getTo().getText());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * header.size()));
}
BENCHMARK(HeaderParse);

void Base64Lines76(benchmark::State& state)
{
    // The line pieces the extraction hands over: 76 characters, line end
    // already removed.
    const std::string body = base64Lines(randomBytes(4 * 1024 * 1024, 5));
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < body.size();) {
        const std::size_t end = body.find("\r\n", at);
        lines.emplace_back(body.data() + at, end - at);
        at = end + 2;
    }
    std::vector<unsigned char> out(4 * 1024 * 1024 + 64);
    std::size_t written = 0;
    for (auto _ : state) {
        MAIL::Base64Stream stream;
        written = 0;
        for (std::string_view line : lines)
            written += stream.decode(line, out.data() + written);
        written += stream.finish(out.data() + written);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * written));
}
BENCHMARK(Base64Lines76);

void JudgeSpooledMail25MB(benchmark::State& state)
{
    const SpooledMail& mail = spooledMail();
    std::string verdicts;
    for (auto _ : state) {
        AttachedFiles files(mail.spool.c_str(), mail.boundary.c_str());
        MAIL::LinkedList list;
        files.parse(list);
        files.clear();
        verdicts.clear();
        list.forEach<MIMEFile>([&](const MIMEFile& file) {
            verdicts += file.isProtected() ? (file.getProtectionKind() == 1 ? "IRM " : "PWD ") : "x ";
        });
    }
    state.SetLabel(std::to_string(mail.size / 1000000) + " MB; " + verdicts);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * mail.size));
}
BENCHMARK(JudgeSpooledMail25MB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
