// LogTag: the "Class#function" that opens a log line.
//
// Lines with a long-standing fixed text keep that text as it is. Every other
// line takes its tag from here, the function's name from where the call
// stands, so no tag is ever typed twice or left behind by a rename.
#pragma once

#include <source_location>
#include <string>
#include <string_view>

namespace MAIL {

// "className#function" for the function the call stands in.
std::string logTag(std::string_view className, std::source_location where = std::source_location::current());

} // namespace MAIL
