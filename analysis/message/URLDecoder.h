// URLDecoder: percent decoding of attachment names in the form
// "iso-2022-jp''%1B%24B...".
//
// "+" becomes a space, "%" and two characters become the byte whose nibbles
// they are (any character other than a hexadecimal digit counts as 0), and
// a "%" with fewer than two characters after it takes the missing digits as
// 0 and ends the text. Every other character is copied.
#pragma once

#include "foundation/Object.h"

#include <memory>
#include <string>
#include <string_view>

namespace MAIL {

class URLDecoder : public Object {
public:
    // A new NUL-terminated text (ending at the first decoded NUL), or null
    // for a null text.
    std::unique_ptr<char[]> decode(const char* text) const;

    // The same rules on a view, appended to out (decoded NULs included).
    static void decode(std::string_view text, std::string& out);
};

// Percent decoding as RFC 2231 values use it: only "%XX" with two
// hexadecimal digits is decoded; "+" and a stray "%" are kept.
void percentDecode(std::string_view text, std::string& out);

} // namespace MAIL
