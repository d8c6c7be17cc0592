#include "foundation/UserFolders.h"

#include <cstdlib>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace MAIL {

namespace {

// The variable's value when it is set, non-empty and absolute.
std::string absoluteVariable(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/')
        return {};
    return value;
}

std::string underHome(const char* relative)
{
    const std::string home = homeFolder();
    if (home.empty())
        return {};
    return home + "/" + relative;
}

} // namespace

std::string homeFolder()
{
    std::string home = absoluteVariable("HOME");
    if (!home.empty())
        return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0 || size > (1 << 20))
        size = 16384;
    std::vector<char> buffer(static_cast<std::size_t>(size));
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
}

std::string configFolder()
{
    std::string folder = absoluteVariable("XDG_CONFIG_HOME");
    return folder.empty() ? underHome(".config") : folder;
}

std::string stateFolder()
{
    std::string folder = absoluteVariable("XDG_STATE_HOME");
    return folder.empty() ? underHome(".local/state") : folder;
}

std::string cacheFolder()
{
    std::string folder = absoluteVariable("XDG_CACHE_HOME");
    return folder.empty() ? underHome(".cache") : folder;
}

std::string runtimeFolder() { return absoluteVariable("XDG_RUNTIME_DIR"); }

std::string applicationConfigFolder()
{
    const std::string config = configFolder();
    return config.empty() ? std::string() : config + "/Pelorus";
}

} // namespace MAIL
