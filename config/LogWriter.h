// LogWriter: the process-wide log, with size-based rotation.
//
// Lines look like "Sun Dec  6 01:46:46 2026  ERROR: Class#method,step,text":
// the writer adds the time stamp (English asctime form, whatever the
// locale) and the level word. Level 0 writes nothing, 1 ERROR lines, 2 DEBUG
// and ERROR, 3 also TRACE. The file is opened per line (append-only, 0600,
// never through a link), so other processes can read it at any time; lines
// of concurrent writers never interleave. When the file has grown past
// RotationFileSize KiB it becomes "<path>.1", the older ones shift up to
// "<path>.<RotationNumber>"; a rename never replaces an existing file.
//
// getLogWriter() gives the one shared writer, built from the Log settings on
// first use; it never throws and gives null when the log folder cannot be
// made (said once on standard error; the program goes on without a log).
#pragma once

#include "foundation/Object.h"

#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

namespace MAIL {

class LogWriter : public Object {
public:
    static constexpr int DirectoryFailure = -35;
    static constexpr int SharedBufferSize = 32000;

    // Makes the directory (with missing parents, 0700) when both directory
    // and file name are given; throws DirectoryFailure when it cannot.
    LogWriter(const char* directory, const char* fileName, int level, int rotationNumber, int rotationFileSize,
              bool console, int bufferSize);
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;
    ~LogWriter() override;

    // Formats and writes one line at the given level (3 TRACE, 2 DEBUG, 1 ERROR).
    void write(int level, const char* format, va_list args);

    const std::string& getPath() const { return path_; }
    const std::string& getDirectory() const { return directory_; }
    int getLevel() const { return level_; }

private:
    void rotateIfNeeded();
    void rotate();

    std::string path_;
    std::string directory_;
    int level_ = 0;
    int rotationNumber_ = 0;
    int rotationFileSize_ = 0;
    std::vector<char> buffer_;
    bool console_ = false;
    std::mutex lock_;
};

// The shared writer; null when it could not be created.
LogWriter* getLogWriter();

// The default log folder: <state>/Pelorus/ (empty without a home folder).
std::string defaultLogDirectory();

// A Dir setting as a folder: "~/x" and relative texts are under HOME.
std::string resolveLogDirectory(const std::string& directory);

// The asctime-form stamp with its trailing blank, for the given time.
std::string logTimeStamp(long long secondsSinceEpoch);

// Write a line at level 3, 2 or 1; a null writer is accepted and ignored.
[[gnu::format(printf, 2, 3)]] void trace(LogWriter* writer, const char* format, ...);
[[gnu::format(printf, 2, 3)]] void debug(LogWriter* writer, const char* format, ...);
[[gnu::format(printf, 2, 3)]] void error(LogWriter* writer, const char* format, ...);

} // namespace MAIL
