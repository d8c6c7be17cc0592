#include "foundation/StringTokenizer.h"

#include "foundation/StringBuffer.h"

namespace MAIL {

StringTokenizer::StringTokenizer(const char* text, char delimiter, unsigned char quoteMode)
    : cursor_(text), quoteMode_(quoteMode)
{
    delimiters_[0] = delimiter;
}

bool StringTokenizer::isDelimiter(char c) const
{
    for (int i = 0; i < delimiterCount_; ++i)
        if (delimiters_[i] == c)
            return true;
    return false;
}

bool StringTokenizer::hasMoreTokens() const { return cursor_ != nullptr && *cursor_ != '\0'; }

const char* StringTokenizer::nextToken(String& token)
{
    if (cursor_ == nullptr || *cursor_ == '\0') {
        cursor_ = nullptr;
        token = String("");
        return nullptr;
    }
    const char* p = cursor_;
    while (*p != '\0' && isDelimiter(*p))
        ++p;
    StringBuffer collected(4096, 256);
    int quotes = 0;
    while (*p != '\0') {
        if (quoteMode_ == 1 && p[0] == '"' && p[1] == '"') {
            p += 2;
            continue;
        }
        if (*p == '"') {
            ++quotes;
            if (quoteMode_ == 1) {
                ++p;
                continue;
            }
        }
        if (isDelimiter(*p) && (quotes == 0 || quotes == 2))
            break;
        if (!collected.append(*p))
            break;  // out of memory: the token ends where it could be held
        ++p;
    }
    token = String(collected.getBuffer());
    cursor_ = p;
    return cursor_;
}

} // namespace MAIL
