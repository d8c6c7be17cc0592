#include "support/Unprivileged.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelorus::test {

namespace {

constexpr uid_t Nobody = 65534;
constexpr gid_t NoGroup = 65534;

void giveAway(const std::string& folder)
{
    std::error_code ec;
    ::lchown(folder.c_str(), Nobody, NoGroup);
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        ::lchown(it->path().c_str(), Nobody, NoGroup);
}

} // namespace

bool runningAsRoot() { return ::geteuid() == 0; }

int runAsUser(const std::function<int()>& check, const std::vector<std::string>& owned)
{
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (runningAsRoot()) {
            for (const std::string& folder : owned)
                giveAway(folder);
            if (::setgroups(0, nullptr) != 0 || ::setresgid(NoGroup, NoGroup, NoGroup) != 0 ||
                ::setresuid(Nobody, Nobody, Nobody) != 0)
                ::_exit(125);
        }
        const int result = check();
        std::fflush(nullptr);
        ::_exit(result & 0xFF);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
    }
    if (!WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace pelorus::test
