// Small text helpers of the session.
#pragma once

#include "foundation/String.h"

#include <string>
#include <string_view>

namespace MAIL {

// A String's text, or "" for none.
inline std::string textOf(const String& text) { return std::string(text.view()); }

// The subject as balloons show it: longer than threshold, it is cut to its
// first 200 bytes (never inside a character) and "..." added; then every
// character that could break or reorder a notice line is escaped
// (visibleText), so the subject can never add a line to the notice.
std::string balloonSubject(std::string_view subject, std::size_t threshold);

// A notice about one mail: "<what>\r\n'<subject>'".
inline std::string subjectNotice(std::string_view what, const std::string& subject)
{
    return std::string(what) + "\r\n'" + subject + "'";
}

} // namespace MAIL
