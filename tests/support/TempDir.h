// Test helpers: a private temporary folder per test, environment variables
// set for one test, and small file utilities.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pelorus::test {

// A fresh folder under $TMPDIR, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets (or unsets, for nullopt) an environment variable until destroyed.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value);
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv();

private:
    std::string name_;
    std::optional<std::string> saved_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
// Permission bits of a path (lstat), or -1 when it does not exist.
int fileMode(const std::string& path);
bool pathExists(const std::string& path);
std::vector<std::string> listFolder(const std::string& path);
// The lines of a text, without their line ends.
std::vector<std::string> linesOf(const std::string& text);

} // namespace pelorus::test
