// decodeWords: header values and attachment names as readable text.
//
// Decodes, anywhere in a value:
//  - RFC 2047 encoded words "=?charset?B?...?=" and "=?charset?Q?...?="
//    (charset and encoding without regard to case, an RFC 2231 language
//    suffix "*lang" on the charset ignored) in every charset iconv knows;
//    UTF-8 through the UTF-8 cleaner, Shift_JIS as CP932, ISO-2022-JP through
//    the JIS-to-Shift_JIS arithmetic and then CP932. A word in a charset
//    iconv does not know, or without its closing "?=", is copied unchanged.
//  - the form "iso-2022-jp''" followed by percent-encoded JIS bytes: the
//    rest of the value is percent-decoded ("+" is a space) and converted.
// Whitespace between two encoded words is kept as written. The result is
// UTF-8 (invalid bytes replaced by U+FFFD) with no NUL inside; conversions
// never touch the process locale, so sessions decode concurrently.
//
// decodeAddressList is the variant for To and Cc: decoded text is made
// plain text where it lands (AddressScan tells where), so splitting the list
// at commas outside quotes and comments still gives one entry per address.
// A '"' becomes "'"; outside quotes and comments a name holding ",", '"',
// "(", ")" or a backslash is put in double quotes; a backslash, and inside
// a comment a parenthesis, is escaped with a backslash.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace MAIL {

// A new NUL-terminated text; null for a null text.
std::unique_ptr<char[]> decodeWords(const char* text);

std::string decodeWords(std::string_view text);
std::string decodeAddressList(std::string_view text);

// Bytes in the named charset to UTF-8 appended to out, with the special
// routes above for UTF-8, Shift_JIS and ISO-2022-JP. False (out untouched)
// for a charset iconv does not know.
bool convertCharset(std::string_view charset, std::string_view bytes, std::string& out);

} // namespace MAIL
