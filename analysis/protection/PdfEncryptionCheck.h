// PdfEncryptionCheck: whether a PDF file is encrypted, that is whether its
// trailer names an encryption dictionary ("/Encrypt").
//
// The trailer is looked for in the last 1024 bytes of the file (except the
// very last byte). When it is not there, the number after the last
// "startxref" of that tail is taken as the offset of the last
// cross-reference section, and "/Encrypt" is looked for in the 4096 bytes
// from there: the trailer after a cross-reference table, or the dictionary
// of a cross-reference stream. A linearized ("fast web view") file keeps
// its full trailer there, at the front, and a long cross-reference stream
// pushes its dictionary out of the tail. Reads are bounded: 5 bytes at the
// start, 1024 at the end, 4096 at the offset.
//
// Construction runs the test and throws the int codes below on failure.
#pragma once

#include "analysis/protection/ByteSource.h"
#include "foundation/Object.h"

#include <string>

namespace MAIL {

class PdfEncryptionCheck : public Object {
public:
    static constexpr int NotPdf = -1000;     // does not begin with "%PDF-"
    static constexpr int CannotOpen = -1001; // cannot be opened or read
    static constexpr int NoPath = -1002;
    static constexpr int Missing = -1003;

    explicit PdfEncryptionCheck(const char* path);

    // The test on bytes already open (path is kept for the record only).
    explicit PdfEncryptionCheck(const ByteSource& source, std::string path = {});

    bool isEncrypted() const { return encrypted_; }
    const std::string& getPath() const { return path_; }

private:
    void examine(const ByteSource& source);

    std::string path_;
    bool encrypted_ = false;
};

} // namespace MAIL
