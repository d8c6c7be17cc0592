#include "foundation/String.h"

#include "foundation/Exception.h"
#include "foundation/StringConverter.h"

#include <cstring>
#include <new>

namespace MAIL {

namespace {

constexpr std::string_view Blanks = " \t\r\n";

} // namespace

std::string_view trimView(std::string_view text)
{
    const auto first = text.find_first_not_of(Blanks);
    if (first == std::string_view::npos)
        return text.substr(0, 0);
    const auto last = text.find_last_not_of(Blanks);
    return text.substr(first, last - first + 1);
}

std::string asciiLower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

void String::assign(std::string_view text, const char* where)
{
    const auto end = text.find('\0');
    if (end != std::string_view::npos)
        text = text.substr(0, end);
    try {
        text_.assign(text);
        hasText_ = true;
    } catch (const std::bad_alloc&) {
        throw Exception(Exception::OutOfMemory, "String#%s,1,Failed to allocate memory", where);
    }
}

String::String(const char* text)
{
    if (text != nullptr)
        assign(text, "String");
}

String::String(std::string_view text) { assign(text, "String"); }

String::String(const String* other)
{
    if (other != nullptr && other->hasText_)
        assign(other->text_, "String");
}

String::String(const String& other) : Object(other)
{
    if (other.hasText_)
        assign(other.text_, "String");
}

String& String::operator=(const String& other)
{
    if (this == &other)
        return *this;
    clear();
    // A source without text yields an empty text, not "no text".
    assign(other.text_, "operator=");
    return *this;
}

String::~String() = default;

void String::clear()
{
    text_.clear();
    text_.shrink_to_fit();
    hasText_ = false;
}

bool String::startsWith(const char* prefix) const
{
    if (!hasText_ || prefix == nullptr)
        return false;
    return std::string_view(text_).starts_with(prefix);
}

int String::trim()
{
    if (!hasText_)
        return 0;
    assign(trimView(text_), "trim");
    return getLength();
}

int String::cutAtLineEnd()
{
    if (!hasText_)
        return 0;
    const auto at = text_.find("\r\n");
    if (at == std::string::npos)
        return 0;
    text_.resize(at);
    return getLength();
}

int String::replaceChar(wchar_t find, wchar_t replacement)
{
    if (!hasText_)
        return 0;
    StringConverter converter;
    auto wide = converter.toWideChar(text_.c_str());
    if (!wide)
        return 0;
    int count = 0;
    for (wchar_t* p = wide.get(); *p != L'\0'; ++p) {
        if (*p == find) {
            *p = replacement;
            ++count;
        }
    }
    auto back = converter.toMultiByte(wide.get());
    if (back)
        assign(back.get(), "replaceChar");
    return count;
}

bool endsWith(const char* text, const char* suffix)
{
    if (text == nullptr || suffix == nullptr)
        return false;
    return std::string_view(text).ends_with(suffix);
}

std::unique_ptr<char[]> trimText(const char* text)
{
    if (text == nullptr)
        return nullptr;
    const std::string_view kept = trimView(text);
    try {
        auto result = std::make_unique<char[]>(kept.size() + 1);
        std::memcpy(result.get(), kept.data(), kept.size());
        result[kept.size()] = '\0';
        return result;
    } catch (const std::bad_alloc&) {
        throw Exception(Exception::OutOfMemory, "String#trim,1,Failed to allocate memory");
    }
}

} // namespace MAIL
