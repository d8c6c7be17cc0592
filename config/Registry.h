// Registry: typed values under named keys of one per-user settings file.
//
// Each operation is self-contained: it reads the file (nothing is cached, so
// a value written by hand or by another process is seen by the next read),
// acts, and for a change writes the whole file again atomically: a
// temporary file in the same folder, flushed, renamed over the old one. So a
// reader never sees a half-written file. Changes are serialised inside the
// process and, across processes, by flock on "<file>.lock", held over the
// read-modify-write, so a write never loses values it did not touch.
//
// Results follow the registry's: every failure (missing key or value, wrong
// type, too long for the buffer, unreadable file) is only a false result.
// Reading a number creates its key when missing (the file is written only
// then); reading a string never does.
#pragma once

#include "foundation/Object.h"
#include "foundation/String.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace MAIL {

class Registry : public Object {
public:
    // rootName names the root in the file ("HKEY_CURRENT_USER"); file is the
    // settings file that holds that root.
    Registry(std::string rootName, std::string file);

    // Copies a plain string value into buffer when it fits with its NUL.
    bool getString(const char* subKey, const char* name, char* buffer, std::size_t bufferSize);
    // As above with a 1024-byte buffer; out is assigned only on success.
    bool getString(const char* subKey, const char* name, String& out);
    bool getString(const char* subKey, const char* name, std::string& out);
    // Stores a plain string, creating the key when missing.
    bool setString(const char* subKey, const char* name, const char* text);
    // Reads a 32-bit number; out is written only on success. Creates the key
    // when it is missing.
    bool getDWORD(const char* subKey, const char* name, std::uint32_t& out);
    bool setDWORD(const char* subKey, const char* name, std::uint32_t value);

    const std::string& getFile() const { return file_; }

private:
    std::string keyName(const char* subKey) const;

    std::string rootName_;
    std::string file_;
};

// The registry of the current user: <config>/Pelorus/settings.reg.
class CurrentUserRegistry : public Registry {
public:
    CurrentUserRegistry();
    static std::string settingsFile();
};

} // namespace MAIL
