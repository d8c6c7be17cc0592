// StringTokenizer: splits a text at one delimiter, respecting double quotes.
//
// The text is not copied: the caller keeps it alive while tokenizing. A
// delimiter inside one pair of double quotes does not split; once a token
// holds more than two quote characters, delimiters no longer split it. In
// quote mode 1 the quotes are removed from the tokens and a doubled quote is
// dropped; in mode 0 they stay. Delimiters before a token are skipped, so
// "a;;b" gives a and b, while "a;b;" ends with an empty token.
#pragma once

#include "foundation/Object.h"
#include "foundation/String.h"

namespace MAIL {

class StringTokenizer : public Object {
public:
    StringTokenizer(const char* text, char delimiter, unsigned char quoteMode);

    // True while the cursor is not null and not at the end of the text.
    bool hasMoreTokens() const;

    // Scans the next token into token and returns the new cursor (null when
    // the scan found the text exhausted, and the token is then empty).
    const char* nextToken(String& token);

private:
    bool isDelimiter(char c) const;

    const char* cursor_;
    int delimiterCount_ = 1;
    char delimiters_[5] = {};
    unsigned char quoteMode_;
};

} // namespace MAIL
