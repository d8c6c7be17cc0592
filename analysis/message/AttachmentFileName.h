// Attachment names as file names inside the attachment folder.
//
// A decoded attachment name is untrusted: it may hold separators, "..",
// control characters or a leading dot, and be of any length. The file name
// made from it has none of these and always lands inside the folder: "/",
// "\" and control characters become "_", leading dots become "_", and an
// empty or dots-only name becomes "attachment". The name's own extension
// (the text from its last dot, at most MaxExtension bytes, taken before any
// cut) is kept, because the protection check dispatches on it; the rest is
// cut at a UTF-8 character boundary so that the file name stays within
// MaxFileName bytes and the full path within MaxPath bytes. A taken name
// gets " (2)", " (3)", ... before the extension.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The longest prefix of text of at most max bytes that does not end inside
// a UTF-8 sequence.
std::string_view cutUtf8(std::string_view text, std::size_t max);

class AttachmentFileName {
public:
    static constexpr std::size_t MaxExtension = 16;
    static constexpr std::size_t MaxFileName = 255;
    static constexpr std::size_t MaxPath = 1023;

    explicit AttachmentFileName(std::string_view decodedName);

    // The file name of the given attempt (1 for the plain name, n for
    // " (n)") inside a folder whose path is folderLength bytes long;
    // nullopt when even a one-byte stem would not fit.
    std::optional<std::string> candidate(int attempt, std::size_t folderLength) const;

    const std::string& getStem() const { return stem_; }
    const std::string& getExtension() const { return extension_; }

private:
    std::string stem_;
    std::string extension_;
};
