// FileFolder: the folder that holds a file path, and its creation.
//
// The folder is everything before the last '/', with runs of '/' collapsed;
// the name is everything after it. A path without any '/' cannot be split:
// the constructor then throws the integer code 0x80004005. create() makes
// the folder and its missing parents, each new one with mode 0700 (spool
// and log folders hold mail data).
#pragma once

#include "foundation/Object.h"

#include <string>

namespace MAIL {

class FileFolder : public Object {
public:
    static constexpr int SplitFailed = static_cast<int>(0x80004005u);

    explicit FileFolder(const std::string& path);

    // Splits path into folder and name; false (both empty) without a '/'.
    static bool split(const std::string& path, std::string& folder, std::string& name);

    // True when the file system has an entry named folder.
    bool exists() const;

    // Creates the folder with its missing parents (0700 each). True when it
    // exists afterwards; false for an empty, "." or ".." folder, or when a
    // creation fails. The argument stands for security attributes: unused.
    bool create(const void* securityAttributes = nullptr) const;

    const std::string& getPath() const { return path_; }
    const std::string& getFolder() const { return folder_; }
    const std::string& getName() const { return name_; }

private:
    std::string path_;
    std::string folder_;
    std::string name_;
};

} // namespace MAIL
