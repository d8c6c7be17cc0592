// RegFile: the settings file in the registry export format.
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Corvane\Application\Pelorus\Setting]
//   "Server"="smtp.example.com"
//   "Port"=dword:00000019
//
// Strings escape '\' and '"'; a string holding a control character is written
// as a hex(1): line of its bytes and a NUL, so no value can break the line
// format, and reads back as a plain string. Values of other types are kept
// as their raw lines and written back unchanged. Key and value names compare
// without regard to ASCII case. Parsing is lenient: it skips a byte-order
// mark, accepts CR LF, takes the last of duplicate keys and values, and
// ignores lines it does not understand.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace MAIL::regfile {

struct Value {
    enum class Type { String, Number, Other };
    std::string name;
    Type type = Type::Other;
    std::string text;        // Type::String
    std::uint32_t number = 0;  // Type::Number
    std::vector<std::string> rawLines;  // Type::Other, as read
};

struct Key {
    std::string name;  // full name, root included
    std::vector<Value> values;

    Value* find(std::string_view valueName);
    const Value* find(std::string_view valueName) const;
    // The value of that name, added at the end when missing.
    Value& obtain(std::string_view valueName);
};

struct Document {
    std::vector<Key> keys;

    Key* find(std::string_view keyName);
    const Key* find(std::string_view keyName) const;
    Key& obtain(std::string_view keyName);
};

// Case-insensitive comparison of ASCII names.
bool sameName(std::string_view a, std::string_view b);

Document parse(std::string_view content);
std::string serialize(const Document& document);

} // namespace MAIL::regfile
