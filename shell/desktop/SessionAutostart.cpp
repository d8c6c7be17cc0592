#include "shell/desktop/SessionAutostart.h"

#include "foundation/FileDescriptor.h"
#include "foundation/FileFolder.h"
#include "foundation/PrivateFiles.h"
#include "foundation/String.h"
#include "foundation/UserFolders.h"
#include "foundation/VisibleText.h"

#include <cerrno>
#include <climits>
#include <string_view>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace MAIL {

namespace {

// A menu entry is a few hundred bytes; anything far larger is not one.
constexpr std::size_t EntryLimit = 64 * 1024;
constexpr std::string_view MainGroup = "[Desktop Entry]";
constexpr std::string_view DeletedMark = " (deleted)";
// Characters that make an Exec argument need quotes.
constexpr std::string_view Reserved = " \t\n\"'\\><~|&;$*?#()`";

std::string reasonOf(int error) { return std::error_code(error, std::generic_category()).message(); }

std::string failure(const std::string& file, const std::string& reason)
{
    return "Pelorus could not write " + visibleText(file, false) + ": " + reason + ".";
}

// Reads a regular file of at most EntryLimit bytes; errno is set on failure
// (EFBIG for a larger file, EINVAL for one that is not a regular file).
bool readEntry(const std::string& path, std::string& text)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat status {};
    if (!fd.isOpen() || ::fstat(fd.get(), &status) != 0)
        return false;
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL;
        return false;
    }
    text.clear();
    bool tooLarge = false;
    const bool read = readAll(fd.get(), [&](std::string_view chunk) {
        tooLarge = text.size() + chunk.size() > EntryLimit;
        if (!tooLarge)
            text.append(chunk);
        return !tooLarge;
    });
    if (tooLarge)
        errno = EFBIG;
    return read && !tooLarge;
}

std::vector<std::string_view> linesOf(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

bool isGroupHeader(std::string_view line) { return !line.empty() && line.front() == '['; }

// The key of a "Key=value" line; empty for other lines.
std::string_view keyOf(std::string_view line)
{
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || line.front() == '#')
        return {};
    return trimView(line.substr(0, equals));
}

std::string_view valueOf(std::string_view line) { return trimView(line.substr(line.find('=') + 1)); }

// The menu entry with Exec replaced and TryExec and Hidden left out of its
// main group; nothing when it has no main group.
std::optional<std::string> autostartEntry(std::string_view menuEntry, const std::string& exec)
{
    std::string out;
    bool seenMain = false, inMain = false, execWritten = false;
    const auto endMain = [&] {
        if (inMain && !execWritten)
            out += "Exec=" + exec + "\n";
        execWritten = true;
        inMain = false;
    };
    for (std::string_view line : linesOf(menuEntry)) {
        if (isGroupHeader(line)) {
            endMain();
            inMain = !seenMain && trimView(line) == MainGroup;
            seenMain = seenMain || inMain;
            execWritten = !inMain;
        } else if (inMain) {
            const std::string_view key = keyOf(line);
            if (key == "Exec") {
                if (!execWritten)
                    out += "Exec=" + exec + "\n";
                execWritten = true;
                continue;
            }
            if (key == "TryExec" || key == "Hidden")
                continue;
        }
        out.append(line);
        out += '\n';
    }
    endMain();
    if (!seenMain)
        return std::nullopt;
    return out;
}

} // namespace

std::string autostartFile()
{
    const std::string config = configFolder();
    return config.empty() ? std::string() : config + "/autostart/pelorus.desktop";
}

bool autostartEnabled(const std::string& file)
{
    std::string text;
    if (file.empty() || !readEntry(file, text))
        return false;
    bool inMain = false;
    for (std::string_view line : linesOf(text)) {
        if (isGroupHeader(line))
            inMain = trimView(line) == MainGroup;
        else if (inMain && keyOf(line) == "Hidden" && valueOf(line) == "true")
            return false;
    }
    return true;
}

std::optional<std::string> execArgument(std::string_view path)
{
    if (path.empty() || path.front() != '/' || visibleText(path, false) != path)
        return std::nullopt;
    const bool quoted = path.find_first_of(Reserved) != std::string_view::npos;
    std::string argument = quoted ? "\"" : "";
    for (const char c : path) {
        if (c == '%')
            argument += "%%";  // a lone % would start a field code
        else if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\'))
            argument += std::string("\\") + c;
        else
            argument += c;
    }
    if (quoted)
        argument += '"';
    // An Exec value is a string value too: its own escapes apply on top.
    std::string value;
    for (const char c : argument) {
        if (c == '\\')
            value += "\\\\";
        else
            value += c;
    }
    return value;
}

std::optional<std::string> writeAutostart(const std::string& file, const std::string& menuEntry,
                                          const std::string& executable)
{
    if (file.empty())
        return failure("~/.config/autostart/pelorus.desktop", "no home folder is known");
    const std::optional<std::string> exec = execArgument(executable);
    if (!exec)
        return failure(file, "the program's path " + visibleText(executable, false) +
                                 " cannot be written into a menu entry");
    std::string text;
    if (!readEntry(menuEntry, text))
        return failure(file, "the menu entry " + visibleText(menuEntry, false) + " cannot be read (" +
                                 reasonOf(errno) + ")");
    const std::optional<std::string> entry = autostartEntry(text, *exec);
    if (!entry)
        return failure(file, "the menu entry " + visibleText(menuEntry, false) + " has no [Desktop Entry] group");

    errno = 0;
    if (!FileFolder(file).create())
        return failure(file, reasonOf(errno != 0 ? errno : ENOTDIR));
    TemporaryFile temporary;  // 0600, created exclusively
    if (!temporary.create(file) || !writeAll(temporary.get(), *entry) || !temporary.commit(file))
        return failure(file, reasonOf(errno));
    return std::nullopt;
}

std::optional<std::string> removeAutostart(const std::string& file)
{
    if (file.empty() || ::unlink(file.c_str()) == 0 || errno == ENOENT)
        return std::nullopt;
    return failure(file, reasonOf(errno));
}

std::string runningExecutable()
{
    char target[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", target, PATH_MAX);
    if (n <= 0)
        return {};
    std::string path(target, static_cast<std::size_t>(n));
    if (path.size() > DeletedMark.size() && path.ends_with(DeletedMark))
        path.resize(path.size() - DeletedMark.size());
    return path;
}

std::string menuEntryFile()
{
    const std::string executable = runningExecutable();
    if (const std::size_t slash = executable.rfind('/'); slash != std::string::npos) {
        const std::string installed = executable.substr(0, slash) + "/../share/applications/pelorus.desktop";
        if (::access(installed.c_str(), R_OK) == 0)
            return installed;
    }
#ifdef PELORUS_SOURCE_MENU_ENTRY
    return PELORUS_SOURCE_MENU_ENTRY;
#else
    return "/usr/share/applications/pelorus.desktop";
#endif
}

} // namespace MAIL
