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
// Values that belong together (a connection's server, port and security)
// are read from one version of the file, read once, inside a HeldReads
// scope: every read of that object then uses the file as it was when the
// scope began. Writes always work on the file itself.
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
#include <memory>
#include <string>

namespace MAIL {

namespace regfile {
struct Document;
}

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

    // Reads of the registry from one reading of its file while it lives.
    class HeldReads {
    public:
        explicit HeldReads(Registry& registry);
        ~HeldReads();
        HeldReads(const HeldReads&) = delete;
        HeldReads& operator=(const HeldReads&) = delete;

    private:
        Registry& registry_;
    };

    ~Registry() override;

private:
    std::string keyName(const char* subKey) const;
    // The file's content for a read: the held one, or a fresh reading.
    std::shared_ptr<const regfile::Document> readDocument() const;

    std::string rootName_;
    std::string file_;
    std::shared_ptr<const regfile::Document> held_;  // inside HeldReads only
};

// The registry of the current user: <config>/Pelorus/settings.reg.
class CurrentUserRegistry : public Registry {
public:
    CurrentUserRegistry();
    static std::string settingsFile();
};

} // namespace MAIL
