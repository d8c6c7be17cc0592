#include "relay/DataScanner.h"

namespace MAIL {

std::size_t DataScanner::scan(std::string_view bytes)
{
    if (ended_)
        return 0;
    for (std::size_t i = 0; i < bytes.size() && !ended_; ++i) {
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
