#include "config/Registry.h"

#include "config/RegFile.h"
#include "foundation/FileDescriptor.h"
#include "foundation/FileFolder.h"
#include "foundation/PrivateFiles.h"
#include "foundation/UserFolders.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace MAIL {

namespace {

// Larger settings files are not ours: refuse them rather than read them.
constexpr off_t MaximumFileSize = 1 << 20;
constexpr std::size_t DefaultBufferSize = 1024;

enum class ReadResult { Ok, Missing, Failed };

// Reads the whole settings file: a regular file of bounded size.
ReadResult readFile(const std::string& file, std::string& content)
{
    content.clear();
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    struct stat info{};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > MaximumFileSize)
        return ReadResult::Failed;
    const bool read = readAll(fd.get(), [&content](std::string_view bytes) {
        content += bytes;
        return content.size() <= static_cast<std::size_t>(MaximumFileSize);  // it may have grown since fstat
    });
    return read && content.size() <= static_cast<std::size_t>(MaximumFileSize) ? ReadResult::Ok : ReadResult::Failed;
}

std::optional<regfile::Document> load(const std::string& file)
{
    std::string content;
    switch (readFile(file, content)) {
    case ReadResult::Ok:
        return regfile::parse(content);
    case ReadResult::Missing:
        return regfile::Document{};
    case ReadResult::Failed:
        break;
    }
    return std::nullopt;
}

// Writes the document through a temporary file renamed over the old one.
bool store(const std::string& file, const regfile::Document& document)
{
    TemporaryFile temporary;
    return temporary.create(file) && writeAll(temporary.get(), regfile::serialize(document)) &&
           temporary.commit(file);
}

// Runs change on the current document under both locks and stores it when
// change returns true. False when the file cannot be read or written.
bool modify(const std::string& file, const std::function<bool(regfile::Document&)>& change)
{
    try {
        FileFolder folder(file);
        if (!folder.create())
            return false;
        const FileLock lock(file + ".lock");  // this process's threads, and other processes
        if (!lock.isHeld())
            return false;
        std::optional<regfile::Document> document = load(file);
        if (!document)
            return false;
        if (!change(*document))
            return true;
        return store(file, *document);
    } catch (...) {
        // A path without a folder, or memory exhausted: nothing was written.
        return false;
    }
}

// A value name the file format can hold on one line.
bool writableName(const char* name)
{
    if (name == nullptr)
        return false;
    for (const char* p = name; *p != '\0'; ++p)
        if (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7F)
            return false;
    return true;
}

const regfile::Value* lookUp(const regfile::Document& document, const std::string& key, const char* name)
{
    const regfile::Key* k = document.find(key);
    return k == nullptr ? nullptr : k->find(name == nullptr ? "" : name);
}

} // namespace

Registry::Registry(std::string rootName, std::string file) : rootName_(std::move(rootName)), file_(std::move(file)) {}

std::string Registry::keyName(const char* subKey) const
{
    return rootName_ + "\\" + (subKey == nullptr ? "" : subKey);
}

Registry::~Registry() = default;

std::shared_ptr<const regfile::Document> Registry::readDocument() const
{
    if (held_)
        return held_;
    std::optional<regfile::Document> document = load(file_);
    if (!document)
        return nullptr;
    return std::make_shared<const regfile::Document>(std::move(*document));
}

Registry::HeldReads::HeldReads(Registry& registry) : registry_(registry)
{
    registry_.held_ = registry_.readDocument();
}

Registry::HeldReads::~HeldReads() { registry_.held_.reset(); }

bool Registry::getString(const char* subKey, const char* name, char* buffer, std::size_t bufferSize)
{
    if (buffer == nullptr || bufferSize == 0)
        return false;
    try {
        const std::shared_ptr<const regfile::Document> document = readDocument();
        if (!document)
            return false;
        const regfile::Value* value = lookUp(*document, keyName(subKey), name);
        if (value == nullptr || value->type != regfile::Value::Type::String ||
            value->text.size() + 1 > bufferSize)
            return false;
        std::memcpy(buffer, value->text.c_str(), value->text.size() + 1);
        return true;
    } catch (...) {
        return false;
    }
}

bool Registry::getString(const char* subKey, const char* name, std::string& out)
{
    char buffer[DefaultBufferSize];
    if (!getString(subKey, name, buffer, sizeof buffer))
        return false;
    out = buffer;
    return true;
}

bool Registry::getString(const char* subKey, const char* name, String& out)
{
    char buffer[DefaultBufferSize];
    if (!getString(subKey, name, buffer, sizeof buffer))
        return false;
    out = String(buffer);
    return true;
}

bool Registry::setString(const char* subKey, const char* name, const char* text)
{
    if (!writableName(name) || !writableName(subKey) || text == nullptr)
        return false;
    const std::string key = keyName(subKey);
    return modify(file_, [&](regfile::Document& document) {
        regfile::Value& value = document.obtain(key).obtain(name);
        value.type = regfile::Value::Type::String;
        value.text = text;
        value.rawLines.clear();
        return true;
    });
}

bool Registry::getDWORD(const char* subKey, const char* name, std::uint32_t& out)
{
    std::optional<std::uint32_t> found;
    bool keyMissing = false;
    try {
        const std::shared_ptr<const regfile::Document> document = readDocument();
        if (!document)
            return false;
        const std::string key = keyName(subKey);
        keyMissing = document->find(key) == nullptr;
        const regfile::Value* value = lookUp(*document, key, name);
        if (value != nullptr && value->type == regfile::Value::Type::Number)
            found = value->number;
        if (keyMissing) {
            // Opening the key for a number read creates it; whether that
            // works does not change the read's result.
            modify(file_, [&](regfile::Document& current) {
                if (current.find(key) != nullptr)
                    return false;
                current.obtain(key);
                return true;
            });
        }
    } catch (...) {
        return false;
    }
    if (!found)
        return false;
    out = *found;
    return true;
}

bool Registry::setDWORD(const char* subKey, const char* name, std::uint32_t number)
{
    if (!writableName(name) || !writableName(subKey))
        return false;
    const std::string key = keyName(subKey);
    return modify(file_, [&](regfile::Document& document) {
        regfile::Value& value = document.obtain(key).obtain(name);
        value.type = regfile::Value::Type::Number;
        value.number = number;
        value.rawLines.clear();
        return true;
    });
}

std::string CurrentUserRegistry::settingsFile()
{
    const std::string folder = applicationConfigFolder();
    // Without a home folder, the working directory stands in for it.
    return (folder.empty() ? std::string("Pelorus") : folder) + "/settings.reg";
}

CurrentUserRegistry::CurrentUserRegistry() : Registry("HKEY_CURRENT_USER", settingsFile()) {}

} // namespace MAIL
