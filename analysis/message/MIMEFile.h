// MIMEFile: one attachment of a mail, as the confirmation dialog lists it.
//
// The record holds the attachment's decoded name (for display), the
// verdict of the protection check and its kind, and, while the extraction
// writes it, the extracted file. The file is always created new (0600,
// never through a link): open() fails rather than reuse an existing file.
// Names and paths are at most MaxText bytes; a longer name is cut at a
// UTF-8 character boundary, a longer path is refused. The list that holds
// the records owns them. The destructor closes a file still open.
#pragma once

#include "analysis/protection/ProtectionChecker.h"
#include "foundation/String.h"

#include <cstddef>

class MIMEFile : public MAIL::Object {
public:
    static constexpr std::size_t MaxText = 1023;

    // A record named name (copied, when given); not protected, kind none,
    // no file, empty path.
    explicit MIMEFile(const char* name = nullptr);
    MIMEFile(const MIMEFile&) = delete;
    MIMEFile& operator=(const MIMEFile&) = delete;
    ~MIMEFile() override;

    // Creates the file at path for writing. On success records the path and
    // returns true; otherwise false, path left empty.
    [[nodiscard]] bool open(const char* path);
    // The same, creating fileName inside the folder open as folder (so the
    // file cannot land anywhere else); path is the full path to record.
    [[nodiscard]] bool openIn(int folder, const char* fileName, const char* path);
    // Appends count bytes to an open file; returns the number written (0
    // without a file, bytes or count).
    std::size_t write(const void* bytes, std::size_t count);
    // Closes an open file: true; false when none was open.
    bool close();
    bool isOpen() const { return fd_ >= 0; }

    const char* getName() const { return name_.getText(); }
    const char* getPath() const { return path_.getText(); }
    bool isProtected() const { return protected_; }
    void setProtected(bool isProtected) { protected_ = isProtected; }
    MAIL::ProtectionKind getProtectionKind() const { return protectionKind_; }
    void setProtectionKind(MAIL::ProtectionKind kind) { protectionKind_ = kind; }

    void dump() override {}

private:
    MAIL::String name_{""};
    bool protected_ = false;
    MAIL::ProtectionKind protectionKind_ = MAIL::ProtectionNone;
    int fd_ = -1;
    MAIL::String path_{""};
};
