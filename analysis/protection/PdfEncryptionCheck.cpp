#include "analysis/protection/PdfEncryptionCheck.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

namespace MAIL {

namespace {

constexpr std::size_t TailSize = 1024;
constexpr std::size_t TrailerSize = 4096;
constexpr std::string_view EncryptKey = "/Encrypt";
constexpr std::string_view StartXref = "startxref";

std::string_view asText(std::span<const std::uint8_t> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The offset written after the last "startxref" of the tail, if there is a
// plausible one.
bool startXrefOffset(std::string_view tail, std::uint64_t& offset)
{
    const std::size_t at = tail.rfind(StartXref);
    if (at == std::string_view::npos)
        return false;
    std::size_t i = at + StartXref.size();
    while (i < tail.size() && (tail[i] == ' ' || tail[i] == '\r' || tail[i] == '\n' || tail[i] == '\t' || tail[i] == '\f'))
        ++i;
    std::size_t digits = 0;
    offset = 0;
    for (; i < tail.size() && tail[i] >= '0' && tail[i] <= '9'; ++i, ++digits) {
        if (digits == 18)
            return false; // beyond any file we could be given
        offset = offset * 10 + static_cast<std::uint64_t>(tail[i] - '0');
    }
    return digits > 0;
}

} // namespace

PdfEncryptionCheck::PdfEncryptionCheck(const char* path)
{
    if (path == nullptr)
        throw NoPath;
    path_ = path;
    FileSource source;
    switch (source.open(path)) {
    case FileSource::Opened::Yes:
        break;
    case FileSource::Opened::Missing:
        throw Missing;
    case FileSource::Opened::Unreadable:
        throw CannotOpen;
    }
    examine(source);
}

PdfEncryptionCheck::PdfEncryptionCheck(const ByteSource& source, std::string path) : path_(std::move(path))
{
    examine(source);
}

void PdfEncryptionCheck::examine(const ByteSource& source)
{
    std::array<std::uint8_t, 5> head{};
    const std::int64_t got = source.readAt(0, head);
    if (got < 0)
        throw CannotOpen;
    if (got != static_cast<std::int64_t>(head.size()) || asText(head) != "%PDF-")
        throw NotPdf;

    // The tail window keeps its last position for a terminator, as the
    // check always has; NUL bytes in it are read as spaces.
    const std::uint64_t size = source.size();
    const std::uint64_t n = std::min<std::uint64_t>(TailSize, size);
    std::array<std::uint8_t, TailSize> window{};
    if (source.readAt(size - n, std::span(window).first(n)) < 0)
        throw CannotOpen;
    std::replace(window.begin(), window.end() - 1, std::uint8_t{0}, std::uint8_t{' '});
    const std::string_view tail = asText(std::span(window).first(TailSize - 1));
    if (tail.find(EncryptKey) != std::string_view::npos) {
        encrypted_ = true;
        return;
    }

    std::uint64_t offset = 0;
    if (!startXrefOffset(tail, offset) || offset >= size)
        return;
    std::vector<std::uint8_t> section(std::min<std::uint64_t>(TrailerSize, size - offset));
    const std::int64_t read = source.readAt(offset, section);
    if (read < 0)
        throw CannotOpen;
    encrypted_ = asText(std::span(section).first(static_cast<std::size_t>(read))).find(EncryptKey) != std::string_view::npos;
}

} // namespace MAIL
