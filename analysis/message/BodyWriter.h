// BodyWriter: an attachment part's body, decoded into its MIMEFile.
//
// The body arrives as the spool file's line pieces. Base64 (the default,
// also for a part that names no transfer encoding or an unknown one) is
// decoded as one continuous stream, so a group of four may span lines and
// blanks or CRs in a line change nothing. A part that declares
// quoted-printable is decoded as such; one that declares 7bit, 8bit or
// binary is written as it stands, lines joined by CR LF. Output is gathered
// in a buffer and written in large blocks.
#pragma once

#include "analysis/message/Base64Decoder.h"

#include <cstddef>
#include <string_view>
#include <vector>

class MIMEFile;

class BodyWriter {
public:
    enum class Encoding { Base64, QuotedPrintable, Identity };

    // The encoding a Content-Transfer-Encoding value calls for.
    static Encoding encodingFor(std::string_view transferEncoding);

    BodyWriter();

    // Starts a body written to file (not owned; may be null: nothing is
    // written).
    void start(MIMEFile* file, Encoding encoding);
    // One piece of a body line.
    void feed(std::string_view piece, bool lineStart, bool lineEnd);
    // Writes what is left; the writer then holds no file.
    void finish();

private:
    void reserve(std::size_t bytes);
    void flush();
    void feedQuotedPrintable(std::string_view piece, bool lineEnd);

    MIMEFile* file_ = nullptr;
    Encoding encoding_ = Encoding::Base64;
    MAIL::Base64Stream base64_;
    bool firstLine_ = true;
    bool softBreak_ = false;  // the last quoted-printable line ended in "="
    std::vector<unsigned char> buffer_;
    std::size_t used_ = 0;
};
