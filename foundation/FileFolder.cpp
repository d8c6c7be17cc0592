#include "foundation/FileFolder.h"

#include <cerrno>

#include <sys/stat.h>

namespace MAIL {

namespace {

bool entryExists(const std::string& name)
{
    struct stat info{};
    return ::lstat(name.c_str(), &info) == 0;
}

} // namespace

FileFolder::FileFolder(const std::string& path) : path_(path)
{
    if (!split(path_, folder_, name_))
        throw SplitFailed;
}

bool FileFolder::split(const std::string& path, std::string& folder, std::string& name)
{
    folder.clear();
    name.clear();
    const auto last = path.rfind('/');
    if (last == std::string::npos)
        return false;
    folder.reserve(last);
    for (std::size_t i = 0; i < last; ++i)
        if (path[i] != '/' || folder.empty() || folder.back() != '/')
            folder += path[i];
    // "a//b//x" leaves "a/b/" before the last run: drop its trailing '/'.
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    name = path.substr(last + 1);
    return true;
}

bool FileFolder::exists() const { return !folder_.empty() && entryExists(folder_); }

bool FileFolder::create(const void* /*securityAttributes*/) const
{
    if (folder_.empty() || folder_ == "." || folder_ == "..")
        return false;
    struct stat info{};
    if (::stat(folder_.c_str(), &info) == 0)
        return true;
    // Walk the prefixes ending before each '/', skipping empty components
    // (the root of an absolute path), then the whole folder.
    for (std::size_t at = folder_.find('/', 1); ; at = folder_.find('/', at + 1)) {
        const std::string prefix = folder_.substr(0, at);
        if (::stat(prefix.c_str(), &info) != 0) {
            if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
        if (at == std::string::npos)
            break;
    }
    return ::stat(folder_.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace MAIL
