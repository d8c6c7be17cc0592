// AddressScan: where each character of a To or Cc text stands, read the way
// RFC 5322 nests it: in a quoted string (its quotes included), in a comment
// (its parentheses included, comments nesting), or in neither. A backslash
// inside a quoted string or a comment takes the next character into the
// same place, so \" and \) end nothing; elsewhere it is a character like
// any other.
//
// Texts come from mails: the scan keeps the nesting as a count (no
// recursion) and looks at each character once. The address list decoder
// and the recipient rows read a text by these same rules, so that a name
// decoded into a text cannot split or join the rows.
#pragma once

#include <cstddef>

namespace MAIL {

class AddressScan {
public:
    enum class Place { Plain, Quoted, Comment };

    // The place of the next character c; the scan moves past it.
    Place step(char c)
    {
        if (escaped_) {
            escaped_ = false;
            return place();
        }
        if (depth_ > 0) {
            if (c == '\\')
                escaped_ = true;
            else if (c == '(')
                ++depth_;
            else if (c == ')')
                --depth_;
            return Place::Comment;
        }
        if (quoted_) {
            if (c == '\\')
                escaped_ = true;
            else if (c == '"')
                quoted_ = false;
            return Place::Quoted;
        }
        if (c == '"') {
            quoted_ = true;
            return Place::Quoted;
        }
        if (c == '(') {
            depth_ = 1;
            return Place::Comment;
        }
        return Place::Plain;
    }

    // Where a character put before the next one would stand.
    Place place() const { return depth_ > 0 ? Place::Comment : quoted_ ? Place::Quoted : Place::Plain; }

    // The next character is taken as it is (it follows a backslash).
    bool escaping() const { return escaped_; }

private:
    std::size_t depth_ = 0;
    bool quoted_ = false;
    bool escaped_ = false;
};

} // namespace MAIL
