#include "analysis/message/BodyWriter.h"

#include "analysis/message/HeaderFields.h"
#include "analysis/message/MIMEFile.h"

#include <cstring>
#include <string>

namespace {

constexpr std::size_t BufferSize = 256 * 1024;

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = MAIL::lowerAscii(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

} // namespace

BodyWriter::Encoding BodyWriter::encodingFor(std::string_view transferEncoding)
{
    const std::string name = MAIL::leadingToken(transferEncoding);
    if (name == "quoted-printable")
        return Encoding::QuotedPrintable;
    if (name == "7bit" || name == "8bit" || name == "binary")
        return Encoding::Identity;
    return Encoding::Base64;
}

BodyWriter::BodyWriter() : buffer_(BufferSize) {}

void BodyWriter::start(MIMEFile* file, Encoding encoding)
{
    file_ = file;
    encoding_ = encoding;
    base64_ = MAIL::Base64Stream();
    firstLine_ = true;
    softBreak_ = false;
    used_ = 0;
}

void BodyWriter::reserve(std::size_t bytes)
{
    if (buffer_.size() - used_ < bytes)
        flush();
}

void BodyWriter::flush()
{
    if (file_ != nullptr && used_ > 0)
        file_->write(buffer_.data(), used_);
    used_ = 0;
}

void BodyWriter::feed(std::string_view piece, bool lineStart, bool lineEnd)
{
    if (file_ == nullptr)
        return;
    switch (encoding_) {
    case Encoding::Base64:
        reserve(MAIL::Base64Stream::maxOutput(piece.size()));
        used_ += base64_.decode(piece, buffer_.data() + used_);
        break;
    case Encoding::Identity:
        reserve(piece.size() + 2);
        if (lineStart && !firstLine_) {
            buffer_[used_++] = '\r';
            buffer_[used_++] = '\n';
        }
        std::memcpy(buffer_.data() + used_, piece.data(), piece.size());
        used_ += piece.size();
        break;
    case Encoding::QuotedPrintable:
        reserve(piece.size() + 2);
        if (lineStart && !firstLine_ && !softBreak_) {
            buffer_[used_++] = '\r';
            buffer_[used_++] = '\n';
        }
        feedQuotedPrintable(piece, lineEnd);
        break;
    }
    if (lineStart)
        firstLine_ = false;
}

void BodyWriter::feedQuotedPrintable(std::string_view piece, bool lineEnd)
{
    if (lineEnd) {
        // Blanks at the end of a line are transport padding.
        while (!piece.empty() && (piece.back() == ' ' || piece.back() == '\t'))
            piece.remove_suffix(1);
        softBreak_ = !piece.empty() && piece.back() == '=';
        if (softBreak_)
            piece.remove_suffix(1);
    }
    for (std::size_t i = 0; i < piece.size(); ++i) {
        if (piece[i] == '=' && i + 2 < piece.size() && hexValue(piece[i + 1]) >= 0 &&
            hexValue(piece[i + 2]) >= 0) {
            buffer_[used_++] = static_cast<unsigned char>(hexValue(piece[i + 1]) << 4 | hexValue(piece[i + 2]));
            i += 2;
        } else {
            buffer_[used_++] = static_cast<unsigned char>(piece[i]);
        }
    }
}

void BodyWriter::finish()
{
    if (file_ != nullptr && encoding_ == Encoding::Base64) {
        reserve(2);
        used_ += base64_.finish(buffer_.data() + used_);
    }
    flush();
    file_ = nullptr;
}
