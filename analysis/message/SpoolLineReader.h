// SpoolLineReader: the lines of a spool file, read once from start to end.
//
// Each line comes back without its LF and without a CR right before it
// (only when present). A line longer than MaxPiece bytes comes back in
// pieces: the first is marked as a line start, the last as a line end,
// and a piece is never cut between a CR and its LF. Memory stays bounded
// whatever the file holds.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

class SpoolLineReader {
public:
    static constexpr std::size_t MaxPiece = 64 * 1024;

    // Reads from the open descriptor fd (not owned).
    explicit SpoolLineReader(int fd);

    struct Piece {
        std::string_view text;  // valid until the next call
        bool lineStart = false;
        bool lineEnd = false;
    };

    // The next piece; false at the end of the file or on a read error.
    [[nodiscard]] bool next(Piece& piece);

private:
    [[nodiscard]] bool fill();

    int fd_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;  // unread data is buffer_[begin_, end_)
    std::size_t end_ = 0;
    bool eof_ = false;
    bool atLineStart_ = true;
};
