#include "foundation/StringConverter.h"

#include "foundation/Exception.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <iconv.h>

namespace MAIL {

namespace {

constexpr char32_t Replacement = 0xFFFD;
constexpr char32_t Invalid = InvalidUtf8;

} // namespace

char32_t decodeUtf8(std::string_view text, std::size_t& i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    int more = 0;
    char32_t code = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        code = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0;   // no overlong forms
        if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        code = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;  // nothing above U+10FFFF
    } else {
        ++i;
        return Invalid;
    }
    ++i;
    for (int k = 0; k < more; ++k) {
        if (i >= text.size() || byte(i) < low || byte(i) > high)
            return Invalid;
        code = (code << 6) | (byte(i) & 0x3F);
        low = 0x80;
        high = 0xBF;
        ++i;
    }
    return code;
}

namespace {

void appendUtf8(char32_t code, std::string& out)
{
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = Replacement;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::unique_ptr<char[]> toArray(const std::string& text)
{
    auto result = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(result.get(), text.data(), text.size());
    result[text.size()] = '\0';
    return result;
}

std::unique_ptr<wchar_t[]> utf8ToWide(std::string_view text)
{
    std::vector<wchar_t> wide;
    wide.reserve(text.size() + 1);
    for (std::size_t i = 0; i < text.size();) {
        const char32_t code = decodeUtf8(text, i);
        wide.push_back(static_cast<wchar_t>(code == Invalid ? Replacement : code));
    }
    auto result = std::make_unique<wchar_t[]>(wide.size() + 1);
    std::copy(wide.begin(), wide.end(), result.get());
    result[wide.size()] = L'\0';
    return result;
}

// The iconv name of a code page; empty for UTF-8 (converted here directly).
std::string codePageName(unsigned codePage)
{
    if (codePage == StringConverter::SystemCodePage || codePage == StringConverter::Utf8CodePage)
        return {};
    return "CP" + std::to_string(codePage);
}

// Runs iconv from the named charset to UTF-8, replacing what it cannot
// convert. False when iconv does not know the charset.
bool iconvToUtf8(const std::string& charset, std::string_view bytes, std::string& out)
{
    iconv_t cd = iconv_open("UTF-8", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string result;
    result.reserve(bytes.size() * 2 + 16);
    char* in = const_cast<char*>(bytes.data());  // iconv's interface is not const-correct
    std::size_t inLeft = bytes.size();
    char chunk[4096];
    while (inLeft > 0) {
        char* outPtr = chunk;
        std::size_t outLeft = sizeof chunk;
        const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        result.append(chunk, static_cast<std::size_t>(outPtr - chunk));
        if (rc != static_cast<std::size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ: an invalid byte; EINVAL: a sequence cut off by the end.
        // Either way one replacement, and go on after the byte.
        appendUtf8(Replacement, result);
        if (errno == EINVAL) {
            inLeft = 0;
            break;
        }
        ++in;
        --inLeft;
    }
    // Flush the shift state of stateful charsets (ISO-2022-JP and friends).
    char* outPtr = chunk;
    std::size_t outLeft = sizeof chunk;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    result.append(chunk, static_cast<std::size_t>(outPtr - chunk));
    iconv_close(cd);
    // iconv's UTF-8 is valid, but a charset that maps bytes to U+0000 would
    // cut the text early; the callers' texts end at the first NUL anyway.
    out += result;
    return true;
}

// Runs a conversion; allocation failure becomes the library's Exception.
template <class F>
auto guarded(const char* where, F convert)
{
    try {
        return convert();
    } catch (const std::bad_alloc&) {
        throw Exception(Exception::OutOfMemory, "StringConverter#%s,1,Failed to allocate memory", where);
    }
}

} // namespace

void StringConverter::appendCleanUtf8(std::string_view bytes, std::string& out)
{
    out.reserve(out.size() + bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t start = i;
        if (decodeUtf8(bytes, i) == Invalid)
            appendUtf8(Replacement, out);
        else
            out.append(bytes.substr(start, i - start));
    }
}

bool StringConverter::charsetToMultiByte(std::string_view charset, std::string_view bytes, std::string& out)
{
    try {
        std::string name(charset);
        for (char& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (name == "UTF-8" || name == "UTF8") {
            appendCleanUtf8(bytes, out);
            return true;
        }
        if (name.empty() || name.find('/') != std::string::npos)
            return false;  // "//TRANSLIT" and friends are iconv options, not charsets
        return iconvToUtf8(name, bytes, out);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

std::unique_ptr<wchar_t[]> StringConverter::toWideChar(unsigned codePage, const char* text)
{
    if (text == nullptr)
        return nullptr;
    return guarded("toWideChar", [&]() -> std::unique_ptr<wchar_t[]> {
        const std::string name = codePageName(codePage);
        if (name.empty())
            return utf8ToWide(text);
        std::string utf8;
        if (!iconvToUtf8(name, text, utf8))
            return nullptr;
        return utf8ToWide(utf8);
    });
}

std::unique_ptr<wchar_t[]> StringConverter::toWideChar(const char* text)
{
    return toWideChar(SystemCodePage, text);
}

std::unique_ptr<char[]> StringConverter::toMultiByte(const wchar_t* text)
{
    if (text == nullptr)
        return nullptr;
    return guarded("toMultiByte", [&] {
        std::string out;
        for (const wchar_t* p = text; *p != L'\0'; ++p)
            appendUtf8(static_cast<char32_t>(*p), out);
        return toArray(out);
    });
}

std::unique_ptr<char[]> StringConverter::utf8ToMultiByte(const char* text)
{
    if (text == nullptr)
        return nullptr;
    return guarded("utf8ToMultiByte", [&] {
        std::string out;
        appendCleanUtf8(text, out);
        return toArray(out);
    });
}

std::unique_ptr<char[]> StringConverter::jisToShiftJis(const char* text)
{
    if (text == nullptr)
        return nullptr;
    const std::size_t length = std::strlen(text);
    auto out = guarded("jisToShiftJis", [&] { return std::make_unique<char[]>(length * 2 + 1); });
    std::size_t o = 0;
    bool twoByte = false;
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    for (std::size_t i = 0; i < length;) {
        const unsigned char c = at(i);
        if (c == 0x1B && i + 2 < length && at(i + 1) == '$' && (at(i + 2) == 'B' || at(i + 2) == '@')) {
            twoByte = true;
            i += 3;
        } else if (c == 0x1B && i + 2 < length && at(i + 1) == '(' && (at(i + 2) == 'B' || at(i + 2) == 'J')) {
            twoByte = false;
            i += 3;
        } else if (twoByte && c >= 0x21 && c <= 0x7E && i + 1 < length && at(i + 1) >= 0x21 && at(i + 1) <= 0x7E) {
            // JIS X 0208 row/cell to Shift_JIS.
            const unsigned c1 = c, c2 = at(i + 1);
            const unsigned s1 = ((c1 + 1) >> 1) + (c1 <= 0x5E ? 0x70 : 0xB0);
            const unsigned s2 = c2 + ((c1 & 1) ? (c2 < 0x60 ? 0x1F : 0x20) : 0x7E);
            out[o++] = static_cast<char>(s1);
            out[o++] = static_cast<char>(s2);
            i += 2;
        } else if (c == '\n' && (i == 0 || at(i - 1) != '\r')) {
            out[o++] = '\r';
            out[o++] = '\n';
            ++i;
        } else if (c == '=') {
            ++i;
        } else {
            // Includes a lead byte whose partner is out of range: written
            // unchanged, and the next byte is processed on its own.
            out[o++] = static_cast<char>(c);
            ++i;
        }
    }
    out[o] = '\0';
    return out;
}

} // namespace MAIL
