#include "analysis/message/Base64Decoder.h"

#include <array>
#include <cstring>

namespace MAIL {

namespace {

constexpr unsigned char NotBase64 = 0x80;

// The 6-bit value of each byte, or NotBase64.
constexpr std::array<unsigned char, 256> makeTable()
{
    std::array<unsigned char, 256> table{};
    for (auto& entry : table)
        entry = NotBase64;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (unsigned char i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(alphabet[i])] = i;
    return table;
}

constexpr std::array<unsigned char, 256> Values = makeTable();

} // namespace

int Base64Decoder::decode(const char* input, std::size_t size, std::unique_ptr<unsigned char[]>& out,
                          int& length) const
{
    if (input == nullptr)
        return 0;
    std::size_t padding = 0;
    for (std::size_t i = 0; i < size; ++i)
        padding += input[i] == '=' ? 1 : 0;
    auto buffer = std::make_unique<unsigned char[]>(size == 0 ? 1 : size);
    std::size_t written = 0;
    for (std::size_t offset = 0; offset < size; offset += 4) {
        unsigned group = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const std::size_t i = offset + k;
            const unsigned char value = i < size ? Values[static_cast<unsigned char>(input[i])] : NotBase64;
            group = (group << 6) | (value == NotBase64 ? 0u : value);
        }
        const std::size_t at = offset / 4 * 3;
        for (std::size_t k = 0; k < 3 && at + k < size; ++k) {
            buffer[at + k] = static_cast<unsigned char>(group >> (16 - 8 * k));
            written = at + k + 1;
        }
    }
    // The nominal length may claim bytes never written (short input) or go
    // below zero (many "="); it is kept within what was written.
    std::size_t nominal = size * 6 / 8;
    nominal = nominal > padding ? nominal - padding : 0;
    if (nominal > written)
        nominal = written;
    out = std::move(buffer);
    length = static_cast<int>(nominal);
    return length;
}

std::size_t Base64Stream::flushGroup(unsigned char* out)
{
    std::size_t n = 0;
    if (count_ == 2) {
        out[n++] = static_cast<unsigned char>(group_ >> 4);
    } else if (count_ == 3) {
        out[n++] = static_cast<unsigned char>(group_ >> 10);
        out[n++] = static_cast<unsigned char>(group_ >> 2);
    }
    group_ = 0;
    count_ = 0;
    return n;
}

std::size_t Base64Stream::decode(std::string_view piece, unsigned char* out)
{
    const auto* in = reinterpret_cast<const unsigned char*>(piece.data());
    const unsigned char* const end = in + piece.size();
    unsigned char* o = out;
    for (;;) {
        // Fast path: whole groups of four alphabet characters on a group
        // boundary, which is nearly all of a body.
        while (count_ == 0 && end - in >= 4) {
            const unsigned a = Values[in[0]], b = Values[in[1]], c = Values[in[2]], d = Values[in[3]];
            if (((a | b | c | d) & NotBase64) != 0)
                break;
            const unsigned group = (a << 18) | (b << 12) | (c << 6) | d;
            o[0] = static_cast<unsigned char>(group >> 16);
            o[1] = static_cast<unsigned char>(group >> 8);
            o[2] = static_cast<unsigned char>(group);
            o += 3;
            in += 4;
        }
        if (in == end)
            break;
        // Slow path, one character: line ends, blanks, padding, and groups
        // that span pieces.
        const unsigned char c = *in++;
        const unsigned value = Values[c];
        if (value != NotBase64) {
            group_ = (group_ << 6) | value;
            if (++count_ == 4) {
                o[0] = static_cast<unsigned char>(group_ >> 16);
                o[1] = static_cast<unsigned char>(group_ >> 8);
                o[2] = static_cast<unsigned char>(group_);
                o += 3;
                group_ = 0;
                count_ = 0;
            }
        } else if (c == '=') {
            o += flushGroup(o);
        }
    }
    return static_cast<std::size_t>(o - out);
}

std::size_t Base64Stream::finish(unsigned char* out) { return flushGroup(out); }

} // namespace MAIL
