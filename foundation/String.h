// String: an owned, NUL-terminated byte string that may be "no text".
//
// A String without text (null) differs from an empty one: getText() gives
// null and startsWith() is false for it. Text is bytes in the system code
// page (UTF-8); the length counts the bytes before the first NUL. Copies
// allocate; allocation failure raises Exception -13.
//
// Also here: the two plain-text helpers, endsWith and trimText.
#pragma once

#include "foundation/Object.h"

#include <memory>
#include <string>
#include <string_view>

namespace MAIL {

class String : public Object {
public:
    String() = default;
    // Null gives no text; otherwise a copy.
    String(const char* text);  // NOLINT: implicit on purpose, as plain texts are Strings
    // A copy of the bytes up to the first NUL.
    explicit String(std::string_view text);
    // A copy of the other's text, or no text when either is missing.
    String(const String* other);
    String(const String& other);
    String& operator=(const String& other);
    ~String() override;

    // Frees the text: no text, length 0.
    void clear();

    const char* getText() const { return hasText_ ? text_.c_str() : nullptr; }
    int getLength() const { return hasText_ ? static_cast<int>(text_.size()) : 0; }
    bool hasText() const { return hasText_; }
    // The text as a view; empty for no text.
    std::string_view view() const { return text_; }

    // True when both texts exist and the text begins with the prefix
    // (byte-exact); an empty prefix matches any existing text.
    bool startsWith(const char* prefix) const;

    // Removes blanks, tabs, CRs and LFs at both ends; returns the new length.
    int trim();

    // Ends the text at its first CR LF and returns the new length; 0 (text
    // unchanged) when there is none.
    int cutAtLineEnd();

    // Replaces every wide character `find` by `replacement`, through the
    // system code page; the text ends at the first NUL afterwards, so a
    // replacement of 0 cuts it. Returns the number of replacements.
    int replaceChar(wchar_t find, wchar_t replacement);

private:
    void assign(std::string_view text, const char* where);

    std::string text_;
    bool hasText_ = false;
};

// True when both exist and text ends with suffix (byte-exact).
bool endsWith(const char* text, const char* suffix);

// The trimming rule of String::trim on a plain text, as a new array
// (null for null).
std::unique_ptr<char[]> trimText(const char* text);

// The trimming rule on a view: blanks, tabs, CRs and LFs off both ends.
std::string_view trimView(std::string_view text);

// The text with A-Z turned into a-z, every other byte kept (addresses and
// domains compare this way whatever the locale).
std::string asciiLower(std::string_view text);

} // namespace MAIL
