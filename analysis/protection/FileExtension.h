// File name extensions as the checks match them: a suffix of the path,
// compared without regard to ASCII case (".PDF" is ".pdf").
#pragma once

#include <algorithm>
#include <initializer_list>
#include <span>
#include <string_view>

namespace MAIL {

// Whether path ends in extension (which includes its dot), ignoring case.
inline bool hasExtension(std::string_view path, std::string_view extension)
{
    if (path.size() < extension.size())
        return false;
    const std::string_view tail = path.substr(path.size() - extension.size());
    return std::equal(tail.begin(), tail.end(), extension.begin(), [](char a, char b) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(a) == lower(b);
    });
}

// Whether path ends in any of the extensions.
inline bool hasAnyExtension(std::string_view path, std::span<const std::string_view> extensions)
{
    return std::any_of(extensions.begin(), extensions.end(),
                       [path](std::string_view extension) { return hasExtension(path, extension); });
}

inline bool hasAnyExtension(std::string_view path, std::initializer_list<std::string_view> extensions)
{
    return hasAnyExtension(path, std::span(extensions.begin(), extensions.size()));
}

} // namespace MAIL
