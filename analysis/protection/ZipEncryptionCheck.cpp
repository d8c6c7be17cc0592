#include "analysis/protection/ZipEncryptionCheck.h"

#include <algorithm>
#include <string_view>

namespace MAIL {

namespace {

constexpr std::uint32_t LocalHeader = 0x04034B50;
constexpr std::uint32_t DataDescriptor = 0x08074B50;
constexpr std::uint32_t CentralHeader = 0x02014B50;
constexpr std::uint32_t EndOfCentralDirectory = 0x06054B50;
constexpr std::string_view DescriptorSignature("PK\x07\x08", 4);

std::uint16_t u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::uint32_t u32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

} // namespace

int ZipEncryptionCheck::load(const char* path)
{
    release();
    if (path == nullptr)
        throw NoPath;
    switch (file_.map(path)) {
    case MappedFile::Mapped::Yes:
        break;
    case MappedFile::Mapped::Missing:
        throw Missing;
    case MappedFile::Mapped::Unreadable:
        throw CannotOpen;
    }
    const auto bytes = file_.bytes();
    if (bytes.size() < 4) {
        release();
        throw TooShort;
    }
    if (u32(bytes.data()) != LocalHeader) {
        release();
        throw NotZip;
    }
    view(bytes);
    return 0;
}

void ZipEncryptionCheck::view(std::span<const std::uint8_t> archive)
{
    archive_ = archive;
    position_ = 0;
    files_ = encrypted_ = unencrypted_ = 0;
    allEncrypted_ = false;
}

void ZipEncryptionCheck::release()
{
    archive_ = {};
    position_ = 0;
    file_.release();
}

void ZipEncryptionCheck::skip(std::size_t count)
{
    if (fits(count))
        position_ += count;
}

int ZipEncryptionCheck::walk()
{
    const std::string_view text(reinterpret_cast<const char*>(archive_.data()), archive_.size());
    // Where a descriptor search from here on is known to find nothing.
    std::size_t noDescriptorFrom = archive_.size();
    position_ = 0;
    files_ = encrypted_ = unencrypted_ = 0;

    bool ended = false;
    while (!ended && fits(4)) {
        const std::uint32_t signature = u32(&archive_[position_]);
        position_ += 4;
        const std::uint8_t* field = archive_.data() + position_;
        switch (signature) {
        case LocalHeader: {
            // Fields that do not fit are not read: they count as zero.
            std::uint16_t flags = 0, nameLength = 0, extraLength = 0;
            std::uint32_t compressedSize = 0;
            if (fits(26)) {
                flags = u16(field + 2);
                compressedSize = u32(field + 14);
                nameLength = u16(field + 22);
                extraLength = u16(field + 24);
                position_ += 26;
            }
            skip(nameLength);
            skip(extraLength);
            skip(compressedSize);
            if ((flags & 0x08) != 0 && position_ < noDescriptorFrom) {
                const std::size_t found = text.find(DescriptorSignature, position_);
                if (found == std::string_view::npos)
                    noDescriptorFrom = position_;
                else
                    position_ = found;
            }
            break;
        }
        case DataDescriptor:
            skip(12);
            break;
        case CentralHeader: {
            std::uint16_t flags = 0, nameLength = 0, extraLength = 0, commentLength = 0;
            if (fits(42)) {
                flags = u16(field + 4);
                nameLength = u16(field + 24);
                extraLength = u16(field + 26);
                commentLength = u16(field + 28);
                position_ += 42;
            }
            // A name cut off by the end is not read, and counts as empty.
            bool directory = false;
            if (fits(nameLength)) {
                directory = nameLength > 0 && archive_[position_ + nameLength - 1] == '/';
                position_ += nameLength;
            }
            if (!directory) {
                ++files_;
                ++((flags & 0x01) != 0 ? encrypted_ : unencrypted_);
            }
            skip(extraLength);
            skip(commentLength);
            break;
        }
        case EndOfCentralDirectory:
            if (fits(18)) {
                const std::uint16_t commentLength = u16(field + 16);
                position_ += 18;
                skip(commentLength);
            }
            ended = true;
            break;
        default:
            break;
        }
    }
    allEncrypted_ = files_ > 0 && unencrypted_ == 0;
    return files_;
}

} // namespace MAIL
