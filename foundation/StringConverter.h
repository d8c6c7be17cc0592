// StringConverter: code-page conversions of the MAIL library.
//
// The system code page is UTF-8 (as the desktop's toolkit assumes for local
// 8-bit text, whatever LC_CTYPE says); wide text is wchar_t, that is UTF-32.
// Code pages 0 and 65001 are UTF-8, 932 is CP932 and any other N is "CP"N
// when iconv knows it. Every result is a new array owned by the caller and
// NUL-terminated. Null comes from null input (and from a code page iconv does
// not know); anything that cannot be converted is replaced (U+FFFD) and the
// rest of the text kept, as the desktop's own conversion services do. No
// operation touches the process locale, so sessions may convert concurrently.
#pragma once

#include "foundation/Object.h"

#include <memory>
#include <string>
#include <string_view>

namespace MAIL {

inline constexpr char32_t InvalidUtf8 = 0xFFFFFFFF;

// Decodes one UTF-8 sequence at text[i] and advances i past it. An invalid
// sequence gives InvalidUtf8 and i moves past its longest valid prefix (one
// replacement per maximal subpart, as the Unicode standard recommends).
char32_t decodeUtf8(std::string_view text, std::size_t& i);

class StringConverter : public Object {
public:
    static constexpr unsigned SystemCodePage = 0;
    static constexpr unsigned Utf8CodePage = 65001;
    static constexpr unsigned ShiftJisCodePage = 932;

    // Multibyte text in the given code page to wide text.
    std::unique_ptr<wchar_t[]> toWideChar(unsigned codePage, const char* text);
    // Multibyte text in the system code page to wide text.
    std::unique_ptr<wchar_t[]> toWideChar(const char* text);
    // Wide text to the system code page.
    std::unique_ptr<char[]> toMultiByte(const wchar_t* text);
    // UTF-8 text to the system code page (invalid sequences replaced).
    std::unique_ptr<char[]> utf8ToMultiByte(const char* text);
    // ISO-2022-JP bytes to Shift_JIS bytes: the JIS X 0208 arithmetic, bare
    // LF to CR LF, '=' dropped. The result is at most twice the input plus 1.
    std::unique_ptr<char[]> jisToShiftJis(const char* text);

    // Bytes in the charset iconv knows by that name to the system code page,
    // appended to out. False (out untouched) when iconv does not know it.
    static bool charsetToMultiByte(std::string_view charset, std::string_view bytes, std::string& out);

    // UTF-8 checked and cleaned: every invalid sequence becomes U+FFFD.
    static void appendCleanUtf8(std::string_view bytes, std::string& out);
};

} // namespace MAIL
