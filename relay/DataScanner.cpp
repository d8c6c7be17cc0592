#include "relay/DataScanner.h"

#include <cstring>

namespace MAIL {

std::size_t DataScanner::scan(std::string_view bytes)
{
    if (ended_)
        return 0;
    for (std::size_t i = 0; i < bytes.size() && !ended_; ++i) {
        // Inside a line (no part of the mark matched, so the last byte was
        // no CR) only CR and LF can change the state: skip to the
        // next of them with memchr, which is many times faster than the
        // automaton on the long runs of text a mail is made of.
        if (matched_ == 0) {
            const char* rest = bytes.data() + i;
            const std::size_t size = bytes.size() - i;
            const void* cr = std::memchr(rest, '\r', size);
            const std::size_t untilCR =
                cr == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(cr) - rest);
            const void* lf = std::memchr(rest, '\n', untilCR);
            i += lf == nullptr ? untilCR : static_cast<std::size_t>(static_cast<const char*>(lf) - rest);
            if (i == bytes.size())
                break;
        }
        const char c = bytes[i];
        if (previousCR_ && c != '\n')
            bareLineEnd_ = true;
        if (c == '\n' && !previousCR_)
            bareLineEnd_ = true;
        previousCR_ = c == '\r';

        // The mark "\r\n.\r\n", matched as a small automaton.
        switch (matched_) {
        case 0:
            matched_ = c == '\r' ? 1 : 0;
            break;
        case 1:
            matched_ = c == '\n' ? 2 : (c == '\r' ? 1 : 0);
            break;
        case 2:
            matched_ = c == '.' ? 3 : (c == '\r' ? 1 : 0);
            break;
        case 3:
            matched_ = c == '\r' ? 4 : 0;
            break;
        case 4:
            if (c == '\n') {
                ended_ = true;
                return i + 1;
            }
            matched_ = c == '\r' ? 1 : 0;
            break;
        }
    }
    return bytes.size();
}

} // namespace MAIL
