// Base64Decoder: the Base64 decoding of encoded words and attachment bodies.
//
// Two ways in, for two kinds of input:
//  - decode() takes exactly the characters of one encoded word. Each group
//    of four characters gives three bytes; characters outside the alphabet
//    ("=" included) count as zero bits, and the length is the input's
//    length times 6/8 less one byte per "=". The length is never below 0
//    nor above what was written, so damaged input gives wrong bytes but
//    never a read or write outside the buffers.
//  - Base64Stream decodes an attachment body handed over in pieces of any
//    size (usually 76-character lines). Characters outside the alphabet (CR,
//    LF, blanks) are skipped, so a group of four may span pieces; "=" ends
//    the group it stands in. Cutting a body anywhere gives the same bytes.
#pragma once

#include "foundation/Object.h"

#include <cstddef>
#include <memory>
#include <string_view>

namespace MAIL {

class Base64Decoder : public Object {
public:
    // Decodes size bytes of input into a new zero-filled buffer of size
    // bytes (at least one). Returns the decoded length, also stored in
    // length. A null input returns 0 and leaves both outputs untouched.
    int decode(const char* input, std::size_t size, std::unique_ptr<unsigned char[]>& out, int& length) const;
};

class Base64Stream {
public:
    // The most bytes decode() writes for a piece of the given size.
    static constexpr std::size_t maxOutput(std::size_t size) { return (size / 4 + 1) * 3; }

    // Decodes a piece into out, which has room for maxOutput(piece.size())
    // bytes. Returns the number of bytes written.
    std::size_t decode(std::string_view piece, unsigned char* out);

    // Writes what an unfinished group still holds (a group of two or three
    // characters without its padding) into out (room for 2 bytes) and
    // starts afresh. Returns the number of bytes written.
    std::size_t finish(unsigned char* out);

private:
    std::size_t flushGroup(unsigned char* out);

    unsigned group_ = 0;  // the 6-bit values taken so far, high first
    int count_ = 0;       // how many of them (0 to 3)
};

} // namespace MAIL
