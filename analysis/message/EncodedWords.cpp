#include "analysis/message/EncodedWords.h"

#include "analysis/message/AddressScan.h"
#include "analysis/message/Base64Decoder.h"
#include "analysis/message/HeaderFields.h"
#include "analysis/message/URLDecoder.h"
#include "foundation/StringConverter.h"

#include <cstring>

namespace MAIL {

namespace {

constexpr std::string_view Jis2231Prefix = "iso-2022-jp''";

// ISO-2022-JP bytes the way the Japanese mail of old is read: the JIS X 0208
// arithmetic to Shift_JIS, then CP932 to UTF-8.
void appendJis(std::string_view bytes, std::string& out)
{
    const std::string text(bytes.substr(0, bytes.find('\0')));
    StringConverter converter;
    const auto shiftJis = converter.jisToShiftJis(text.c_str());
    StringConverter::charsetToMultiByte("CP932", shiftJis.get(), out);
}

// Q encoding: "_" is a space, "=XX" a byte; anything else as written.
std::string decodeQ(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        c = static_cast<char>(c | 0x20);
        return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '_') {
            out += ' ';
        } else if (text[i] == '=' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) << 4 | hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Tries an encoded word at the start of text. On success sets length to the
// characters it spans and appends its decoded text to out.
[[nodiscard]] bool decodeWordAt(std::string_view text, std::size_t& length, std::string& out)
{
    if (!text.starts_with("=?"))
        return false;
    const std::size_t charsetEnd = text.find('?', 2);
    if (charsetEnd == std::string_view::npos || charsetEnd == 2 || charsetEnd + 2 >= text.size() ||
        text[charsetEnd + 2] != '?')
        return false;
    const char encoding = static_cast<char>(text[charsetEnd + 1] | 0x20);
    if (encoding != 'b' && encoding != 'q')
        return false;
    const std::size_t start = charsetEnd + 3;
    // The encoded text holds no "?"; the first one must close the word.
    const std::size_t close = text.find('?', start);
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != '=')
        return false;
    std::string_view charset = text.substr(2, charsetEnd - 2);
    charset = charset.substr(0, charset.find('*'));  // RFC 2231 language suffix
    const std::string_view encoded = text.substr(start, close - start);
    std::string bytes;
    if (encoding == 'b') {
        std::unique_ptr<unsigned char[]> decoded;
        int decodedLength = 0;
        Base64Decoder().decode(encoded.data(), encoded.size(), decoded, decodedLength);
        bytes.assign(reinterpret_cast<const char*>(decoded.get()), static_cast<std::size_t>(decodedLength));
    } else {
        bytes = decodeQ(encoded);
    }
    if (!convertCharset(charset, bytes, out))
        return false;
    length = close + 2;
    return true;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The run of encoded words at the start of text, separated only by blanks:
// appended decoded (blanks kept) to out; returns the characters spanned, 0
// when there is no word.
std::size_t decodeWordRun(std::string_view text, std::string& out)
{
    std::size_t length = 0;
    if (!decodeWordAt(text, length, out))
        return 0;
    std::size_t end = length;
    for (;;) {
        std::size_t next = end;
        while (next < text.size() && isBlank(text[next]))
            ++next;
        if (next == end || next >= text.size())
            return end;
        std::string word;
        std::size_t wordLength = 0;
        if (!decodeWordAt(text.substr(next), wordLength, word))
            return end;
        out.append(text.substr(end, next - end));
        out += word;
        end = next + wordLength;
    }
}

// Decoded text put into an address list where place says, written so that
// it is text there and nothing else: a '"' becomes "'"; outside quotes and
// comments a name holding a character that would split, quote or comment
// is put in quotes; a backslash (and in a comment a parenthesis) is escaped.
void appendInert(std::string_view decoded, AddressScan::Place place, std::string& out)
{
    const bool quote = place == AddressScan::Place::Plain && decoded.find_first_of(",\"()\\") != std::string::npos;
    if (quote)
        out += '"';
    for (const char c : decoded) {
        if (c == '"') {
            out += '\'';
            continue;
        }
        if (c == '\\' || (place == AddressScan::Place::Comment && (c == '(' || c == ')')))
            out += '\\';
        out += c;
    }
    if (quote)
        out += '"';
}

std::string decode(std::string_view text, bool addressList)
{
    std::string out;
    out.reserve(text.size() + 16);
    AddressScan scan;  // address lists only
    for (std::size_t p = 0; p < text.size();) {
        const std::string_view rest = text.substr(p);
        if (startsWithIgnoreCase(rest, Jis2231Prefix)) {
            std::string bytes;
            URLDecoder::decode(rest.substr(Jis2231Prefix.size()), bytes);
            appendJis(bytes, out);
            break;
        }
        if (rest[0] == '=' && rest.size() > 1 && rest[1] == '?' && !scan.escaping()) {
            std::string decoded;
            if (const std::size_t length = addressList ? decodeWordRun(rest, decoded) : 0; length > 0) {
                appendInert(decoded, scan.place(), out);
                p += length;
                continue;
            }
            std::size_t length = 0;
            if (!addressList && decodeWordAt(rest, length, out)) {
                p += length;
                continue;
            }
        }
        if (addressList)
            scan.step(rest[0]);
        out += rest[0];
        ++p;
    }
    // Texts handed on hold no NUL: it would cut them short.
    std::erase(out, '\0');
    return out;
}

} // namespace

bool convertCharset(std::string_view charset, std::string_view bytes, std::string& out)
{
    if (equalsIgnoreCase(charset, "ISO-2022-JP")) {
        appendJis(bytes, out);
        return true;
    }
    if (equalsIgnoreCase(charset, "Shift_JIS") || equalsIgnoreCase(charset, "Shift-JIS") ||
        equalsIgnoreCase(charset, "SJIS"))
        return StringConverter::charsetToMultiByte("CP932", bytes, out);
    if (equalsIgnoreCase(charset, "us-ascii"))
        charset = "UTF-8";  // ASCII as such; stray 8-bit bytes become U+FFFD
    return StringConverter::charsetToMultiByte(charset, bytes, out);
}

std::string decodeWords(std::string_view text) { return decode(text, false); }

std::string decodeAddressList(std::string_view text) { return decode(text, true); }

std::unique_ptr<char[]> decodeWords(const char* text)
{
    if (text == nullptr)
        return nullptr;
    const std::string decoded = decode(text, false);
    auto out = std::make_unique<char[]>(decoded.size() + 1);
    std::memcpy(out.get(), decoded.data(), decoded.size());
    out[decoded.size()] = '\0';
    return out;
}

} // namespace MAIL
