#include "config/LogWriter.h"

#include "config/ProxyConfiguration.h"
#include "foundation/Diagnostics.h"
#include "foundation/FileFolder.h"
#include "foundation/UserFolders.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace MAIL {

namespace {

constexpr const char* LevelWords[] = {"", "ERROR", "DEBUG", "TRACE"};

// Renames without ever replacing an existing file.
bool renameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without RENAME_NOREPLACE: link fails when the target exists.
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

bool fileExists(const std::string& path)
{
    struct stat info{};
    return ::lstat(path.c_str(), &info) == 0;
}

// The numbers i in [1, limit] for which "<name>.<i>" exists in folder.
std::vector<int> rotatedNumbers(const std::string& folder, const std::string& name, int limit)
{
    std::vector<int> numbers;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr)
        return numbers;
    const std::string prefix = name + ".";
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view entryName = entry->d_name;
        if (!entryName.starts_with(prefix))
            continue;
        const std::string_view digits = entryName.substr(prefix.size());
        if (digits.empty() || digits.front() == '0')
            continue;
        int number = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (ec == std::errc() && end == digits.data() + digits.size() && number >= 1 && number <= limit)
            numbers.push_back(number);
    }
    ::closedir(dir);
    return numbers;
}

void writeAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

void writeLine(LogWriter* writer, int level, const char* format, va_list args)
{
    if (writer != nullptr)
        writer->write(level, format, args);
}

void reportToLog(std::string_view line)
{
    error(getLogWriter(), "%.*s", static_cast<int>(line.size()), line.data());
    std::fprintf(stderr, "Pelorus: %.*s\n", static_cast<int>(line.size()), line.data());
}

LogWriter* createSharedWriter()
{
    std::string directory = defaultLogDirectory();
    std::string fileName = "Pelorus.log";
    std::int32_t level = 0, rotationNumber = 5, rotationFileSize = 500;
    bool console = false;
    try {
        ProxyConfiguration configuration;
        configuration.getLogLevel(level);
        configuration.getRotationNumber(rotationNumber);
        configuration.getRotationFileSize(rotationFileSize);
        if (configuration.getLogDirectory(directory))
            directory = resolveLogDirectory(directory);
        configuration.getLogFileName(fileName);
        configuration.getConsole(console);
        if (console)
            setDiagnosticsEnabled(true);
        diagnostic("LogWriter#LogWriter,Directory=%s FileName=%s Level=%d RotationNumber=%d "
                   "RotationFileSize=%d LogStdout=%d\n",
                   directory.c_str(), fileName.c_str(), level, rotationNumber, rotationFileSize, console ? 1 : 0);
        auto* writer = new LogWriter(directory.c_str(), fileName.c_str(), level, rotationNumber, rotationFileSize,
                                     console, LogWriter::SharedBufferSize);
        setFailureReporter(&reportToLog);
        return writer;
    } catch (int code) {
        std::fprintf(stderr, "Pelorus: cannot create the log folder %s (code %d); running without a log.\n",
                     directory.c_str(), code);
    } catch (...) {
        std::fprintf(stderr, "Pelorus: cannot create the log writer; running without a log.\n");
    }
    return nullptr;
}

} // namespace

std::string defaultLogDirectory()
{
    const std::string state = stateFolder();
    return state.empty() ? std::string() : state + "/Pelorus/";
}

std::string resolveLogDirectory(const std::string& directory)
{
    if (directory.empty() || directory.front() == '/')
        return directory;
    const std::string home = homeFolder();
    if (home.empty())
        return directory;
    if (directory == "~")
        return home;
    if (directory.starts_with("~/"))
        return home + directory.substr(1);
    return home + "/" + directory;
}

std::string logTimeStamp(long long secondsSinceEpoch)
{
    static constexpr const char* Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t when = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm local{};
    if (::localtime_r(&when, &local) == nullptr)
        return "??? ??? ?? ??:??:?? ???? ";
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%s %s %2d %02d:%02d:%02d %d ", Days[local.tm_wday % 7],
                  Months[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  local.tm_year + 1900);
    return stamp;
}

LogWriter::LogWriter(const char* directory, const char* fileName, int level, int rotationNumber,
                     int rotationFileSize, bool console, int bufferSize)
{
    if (directory != nullptr && fileName != nullptr && directory[0] != '\0' && fileName[0] != '\0') {
        // One trailing separator goes, and a second one too ("/var/log//").
        directory_ = directory;
        if (!directory_.empty() && directory_.back() == '/')
            directory_.pop_back();
        if (!directory_.empty() && directory_.back() == '/')
            directory_.pop_back();
        const std::string folder = directory_.empty() ? std::string("/") : directory_;
        struct stat info{};
        if (::stat(folder.c_str(), &info) != 0 && !FileFolder(folder + "/").create())
            throw DirectoryFailure;
        path_ = std::string(directory) + "/" + fileName;
        buffer_.assign(static_cast<std::size_t>(std::max(bufferSize, 1)), '\0');
    }
    level_ = level;
    rotationNumber_ = rotationNumber;
    rotationFileSize_ = rotationFileSize;
    console_ = console;
}

LogWriter::~LogWriter() { diagnostic("LogWriter::~LogWriter\n"); }

void LogWriter::write(int level, const char* format, va_list args)
{
    if (level_ == 0 || path_.empty() || level > level_ || level < 1 || level > 3 || format == nullptr)
        return;
    std::lock_guard guard(lock_);
    std::vsnprintf(buffer_.data(), buffer_.size(), format, args);
    rotateIfNeeded();
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    std::string line = logTimeStamp(static_cast<long long>(std::time(nullptr)));
    line += ' ';
    line += LevelWords[level];
    line += ": ";
    line += buffer_.data();
    line += '\n';
    // One write call: another process appending to the file cannot split it.
    writeAll(fd, line);
    ::close(fd);
    if (console_) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
}

void LogWriter::rotateIfNeeded()
{
    struct stat info{};
    if (::stat(path_.c_str(), &info) != 0)
        return;
    const long long kibibytes = static_cast<long long>(info.st_size) / 1024;
    if (kibibytes > rotationFileSize_)
        rotate();
}

void LogWriter::rotate()
{
    const std::string& p = path_;
    const std::string oldest = p + "." + std::to_string(rotationNumber_);
    if (fileExists(oldest))
        ::unlink(oldest.c_str());
    // Shift only the rotated files that exist: one listing, whatever the number.
    std::string folder, name;
    FileFolder::split(p, folder, name);
    std::vector<int> numbers = rotatedNumbers(folder, name, rotationNumber_ - 1);
    std::sort(numbers.rbegin(), numbers.rend());
    for (int i : numbers)
        renameNoReplace(p + "." + std::to_string(i), p + "." + std::to_string(i + 1));
    renameNoReplace(p, p + ".1");
}

void trace(LogWriter* writer, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeLine(writer, 3, format, args);
    va_end(args);
}

void debug(LogWriter* writer, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeLine(writer, 2, format, args);
    va_end(args);
}

void error(LogWriter* writer, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeLine(writer, 1, format, args);
    va_end(args);
}

LogWriter* getLogWriter()
{
    // Created once, by whichever thread asks first; never destroyed.
    static LogWriter* const shared = createSharedWriter();
    return shared;
}

} // namespace MAIL
