#include "config/RegFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace MAIL::regfile {

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::uint32_t StringType = 1;
constexpr std::uint32_t NumberType = 4;

std::string_view trimRight(std::string_view s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Reads a quoted text at s (which starts with '"'); on success, advances s
// past the closing quote and returns true with the unescaped text.
bool readQuoted(std::string_view& s, std::string& out)
{
    if (s.empty() || s.front() != '"')
        return false;
    out.clear();
    for (std::size_t i = 1; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            out += s[++i];
        } else if (s[i] == '"') {
            s.remove_prefix(i + 1);
            return true;
        } else {
            out += s[i];
        }
    }
    return false;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// "61,62,00" (with blanks and line continuations already joined) to bytes.
bool parseHexBytes(std::string_view s, std::string& bytes)
{
    bytes.clear();
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
            ++i;
    };
    skipBlanks();
    if (i == s.size())
        return true;
    for (;;) {
        skipBlanks();
        if (i + 2 > s.size() || hexDigit(s[i]) < 0 || hexDigit(s[i + 1]) < 0)
            return false;
        bytes += static_cast<char>(hexDigit(s[i]) * 16 + hexDigit(s[i + 1]));
        i += 2;
        skipBlanks();
        if (i == s.size())
            return true;
        if (s[i] != ',')
            return false;
        ++i;
    }
}

// Parses the data of a value line ("..."/dword:/hex...) into value.
bool parseData(std::string_view data, const std::vector<std::string>& lines, Value& value)
{
    data = trimRight(data);
    if (!data.empty() && data.front() == '"') {
        std::string text;
        std::string_view rest = data;
        if (!readQuoted(rest, text) || !trimRight(rest).empty())
            return false;
        value.type = Value::Type::String;
        value.text = std::move(text);
        return true;
    }
    if (data.size() > 6 && sameName(data.substr(0, 6), "dword:")) {
        const std::string_view digits = data.substr(6);
        if (digits.empty() || digits.size() > 8)
            return false;
        std::uint32_t number = 0;
        for (char c : digits) {
            const int d = hexDigit(c);
            if (d < 0)
                return false;
            number = number * 16 + static_cast<std::uint32_t>(d);
        }
        value.type = Value::Type::Number;
        value.number = number;
        return true;
    }
    if (data.size() >= 4 && sameName(data.substr(0, 3), "hex")) {
        std::uint32_t type = 3;  // plain "hex:" is binary
        std::size_t colon = 3;
        if (data[3] == '(') {
            const auto close = data.find(')');
            if (close == std::string_view::npos || close == 4 || close > 12)
                return false;
            type = 0;
            for (std::size_t i = 4; i < close; ++i) {
                const int d = hexDigit(data[i]);
                if (d < 0)
                    return false;
                type = type * 16 + static_cast<std::uint32_t>(d);
            }
            colon = close + 1;
        }
        if (colon >= data.size() || data[colon] != ':')
            return false;
        std::string bytes;
        if (!parseHexBytes(data.substr(colon + 1), bytes))
            return false;
        if (type == StringType) {
            // A string in hex form: its bytes up to the terminating NUL.
            value.type = Value::Type::String;
            value.text = bytes.substr(0, bytes.find('\0'));
        } else if (type == NumberType && bytes.size() == 4) {
            value.type = Value::Type::Number;
            value.number = static_cast<std::uint8_t>(bytes[0]) | static_cast<std::uint8_t>(bytes[1]) << 8 |
                           static_cast<std::uint8_t>(bytes[2]) << 16 |
                           static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[3])) << 24;
        } else {
            value.type = Value::Type::Other;
            value.rawLines = lines;
        }
        return true;
    }
    return false;
}

// One quoted value name, escaped for the file.
std::string quote(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

bool hasControl(std::string_view text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

void writeValue(const Value& value, std::string& out)
{
    char number[16];
    switch (value.type) {
    case Value::Type::String:
        if (!hasControl(value.text)) {
            out += quote(value.name) + "=" + quote(value.text) + "\n";
            break;
        }
        {
            std::string line = quote(value.name) + "=hex(1):";
            std::string bytes = value.text;
            bytes += '\0';
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                std::snprintf(number, sizeof number, "%02x", static_cast<unsigned char>(bytes[i]));
                line += number;
                if (i + 1 < bytes.size()) {
                    line += ',';
                    if (line.size() > 76) {
                        out += line + "\\\n";
                        line = "  ";
                    }
                }
            }
            out += line + "\n";
        }
        break;
    case Value::Type::Number:
        std::snprintf(number, sizeof number, "%08x", static_cast<unsigned>(value.number));
        out += quote(value.name) + "=dword:" + number + "\n";
        break;
    case Value::Type::Other:
        for (const std::string& line : value.rawLines)
            out += line + "\n";
        break;
    }
}

} // namespace

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

Value* Key::find(std::string_view valueName)
{
    for (Value& v : values)
        if (sameName(v.name, valueName))
            return &v;
    return nullptr;
}

const Value* Key::find(std::string_view valueName) const { return const_cast<Key*>(this)->find(valueName); }

Value& Key::obtain(std::string_view valueName)
{
    if (Value* v = find(valueName))
        return *v;
    values.push_back(Value{std::string(valueName)});
    return values.back();
}

Key* Document::find(std::string_view keyName)
{
    for (Key& k : keys)
        if (sameName(k.name, keyName))
            return &k;
    return nullptr;
}

const Key* Document::find(std::string_view keyName) const { return const_cast<Document*>(this)->find(keyName); }

Key& Document::obtain(std::string_view keyName)
{
    if (Key* k = find(keyName))
        return *k;
    keys.push_back(Key{std::string(keyName), {}});
    return keys.back();
}

Document parse(std::string_view content)
{
    if (content.starts_with(ByteOrderMark))
        content.remove_prefix(ByteOrderMark.size());
    std::vector<std::string_view> lines;
    while (!content.empty()) {
        const auto end = content.find('\n');
        std::string_view line = content.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos)
            break;
        content.remove_prefix(end + 1);
    }

    Document document;
    Key* current = nullptr;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = trimRight(lines[i]);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            current = nullptr;
            if (line.back() == ']' && line.size() > 2 && line[1] != '-')
                current = &document.obtain(line.substr(1, line.size() - 2));
            continue;
        }
        // A value line, possibly continued by a trailing '\' (hex data).
        std::vector<std::string> raw{std::string(lines[i])};
        std::string joined(line);
        while (!joined.empty() && joined.back() == '\\' && i + 1 < lines.size()) {
            joined.pop_back();
            ++i;
            raw.emplace_back(lines[i]);
            std::string_view next = trimRight(lines[i]);
            while (!next.empty() && (next.front() == ' ' || next.front() == '\t'))
                next.remove_prefix(1);
            joined += next;
        }
        if (current == nullptr)
            continue;
        Value value;
        std::string_view rest = joined;
        if (rest.front() == '@') {
            rest.remove_prefix(1);
        } else if (!readQuoted(rest, value.name)) {
            continue;
        }
        if (rest.empty() || rest.front() != '=')
            continue;
        rest.remove_prefix(1);
        if (!parseData(rest, raw, value))
            continue;
        // The last of duplicate names wins.
        Value& slot = current->obtain(value.name);
        value.name = slot.name;
        slot = std::move(value);
    }
    return document;
}

std::string serialize(const Document& document)
{
    std::string out = "REGEDIT4\n";
    for (const Key& key : document.keys) {
        out += "\n[" + key.name + "]\n";
        for (const Value& value : key.values)
            writeValue(value, out);
    }
    out += "\n";
    return out;
}

} // namespace MAIL::regfile
