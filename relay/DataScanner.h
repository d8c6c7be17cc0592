// DataScanner: the end of a mail's data, found on the byte stream.
//
// The data ends at CR LF "." CR LF. The CR LF that ended the DATA command
// counts as the start of that mark, so "." CR LF right after DATA is an
// empty mail. The mark is found across any receive boundaries. The scanner
// also notices a bare CR or a bare LF anywhere in the data (a CR ending one
// receive and an LF starting the next are still a CR LF): such a mail could
// be read as two by a lenient server and is never forwarded.
#pragma once

#include <cstddef>
#include <string_view>

namespace MAIL {

class DataScanner {
public:
    // Scans bytes up to the end mark; returns how many belong to the data
    // (all of them, or up to and including the mark).
    std::size_t scan(std::string_view bytes);

    bool ended() const { return ended_; }
    bool hasBareLineEnd() const { return bareLineEnd_; }

private:
    int matched_ = 2;  // characters of "\r\n.\r\n" matched so far
    bool previousCR_ = false;
    bool bareLineEnd_ = false;
    bool ended_ = false;
};

} // namespace MAIL
