#include "config/LogTag.h"

namespace MAIL {

std::string logTag(std::string_view className, std::source_location where)
{
    // "void SMTPCommunicator::refuseLine(const char*)": the last name before
    // the parameter list.
    std::string_view name = where.function_name();
    name = name.substr(0, name.find('('));
    const std::size_t start = name.find_last_of(": ");
    if (start != std::string_view::npos)
        name.remove_prefix(start + 1);
    std::string tag(className);
    tag += '#';
    tag += name;
    return tag;
}

} // namespace MAIL
