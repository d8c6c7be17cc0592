// ListFile: one of the list files, shared by TrustedDomain,
// TrustedRecipient, CautionDomain and CautionAttachment.
//
// The files live in the application's config folder (the settings file's
// folder, made 0700 when missing); without a home folder they are taken from
// the working directory. One entry per line, bytes stored unchanged, LF line
// ends when written. Reading turns CR LF into LF, then cuts each line into
// pieces of at most 1023 characters; each piece is an entry, except a piece
// holding only the line end of a line already cut. A blank line is an empty
// entry. At most MaximumEntries entries are read; the rest is dropped with
// one ERROR log line.
//
// Readers never lock: every change writes a temporary file in the same
// folder (created exclusively, 0600, flushed) and renames it over the list,
// so a reader sees the old list or the new one, never a missing or cut file.
// Only a regular file is read (a link to one is followed); nothing is ever
// written through a link, and a change replaces a link by a regular file.
// Changes of one file (save, add, remove) are serialised by a lock per file
// inside the process and by flock on "<file>.lock" across processes, with
// the read-modify-write inside the lock. They return whether they
// succeeded; lastError() then gives the reason as an errno value.
//
// Each list also has organisation-wide copies (OrganisationLists.h), read
// with the same format and limit and never written. Loading into a
// PatternList adds their entries to the user's; loading into a LinkedList,
// which is for editing, gives the user's alone, and loadOrganisation the
// others.
#pragma once

#include "foundation/LinkedList.h"
#include "foundation/Object.h"
#include "foundation/String.h"

#include <functional>
#include <memory>
#include <string>

namespace MAIL {

class ListFile : public Object {
public:
    static constexpr int PieceLength = 1023;
    static constexpr int MaximumEntries = 100000;

    ListFile(const ListFile&) = delete;
    ListFile& operator=(const ListFile&) = delete;
    ~ListFile() override;

    // The list file; empty when no usable folder exists.
    const std::string& getPath() const { return path_; }
    // The backup that save leaves: the path plus ".bar".
    std::string getBackupPath() const { return path_ + ".bar"; }

    // Rewrites the file with one line per element that has text, in list
    // order. The content it replaces becomes the ".bar" backup (with no
    // file before, a stale backup is removed). False, with the file and
    // backup untouched, when the old content cannot be read or kept, or the
    // new one cannot be written.
    bool save(const LinkedList& entries);

    // Deletes the file (no backup). False when there is none or it cannot be
    // deleted.
    bool remove();

    // Appends the entries of the organisation-wide copies at the tail, in
    // folder and file order; returns how many.
    int loadOrganisation(LinkedList& list) const;

    // The errno value of the last failed save, add or remove.
    int lastError() const { return lastError_; }

protected:
    // How a read ended.
    enum class ReadState { Missing, Read, Unreadable, Truncated };
    struct ReadResult {
        int count = 0;
        ReadState state = ReadState::Missing;
    };
    // What a change sees of the file under the lock.
    struct Current {
        bool exists = false;
        const LinkedList& entries;
    };
    // Decides a change: fills text with what to append (whole lines) and
    // returns whether to write.
    using AppendPlan = std::function<bool(const Current& current, std::string& text)>;

    // Locates the file (creating the folder) and names the class in log lines.
    ListFile(const char* fileName, const char* className);

    // Reads the entries in file order, handing each to sink. Logs an ERROR
    // line for a file that exists but cannot be read, or holds too many
    // entries. Allocation failure raises Exception -13.
    ReadResult read(const std::function<void(std::unique_ptr<String>)>& sink) const;
    // The same for every organisation-wide copy; returns how many entries.
    int readOrganisation(const std::function<void(std::unique_ptr<String>)>& sink) const;

    // Under the file's locks: reads the current entries, lets plan decide,
    // and writes the current bytes unchanged followed by the planned lines
    // (a line end is put first when the last line has none). A file that
    // cannot be read completely is never rewritten. Nothing to append to an
    // existing file leaves it as it is.
    bool append(const AppendPlan& plan);

    // The class named in log lines.
    const char* className() const { return className_; }

    // Writes the entries as the numbered diagnostic lines of dump().
    void dumpEntries(const char* header, const LinkedList& entries) const;

private:
    bool underLock(const std::function<bool()>& change);
    bool fail(int error);
    ReadResult readOpen(int fd, const std::string& path,
                        const std::function<void(std::unique_ptr<String>)>& sink) const;

    std::string path_;
    const char* fileName_;
    const char* className_;
    int lastError_ = 0;
};

} // namespace MAIL
