#include "policy/ListFile.h"

#include "config/LogWriter.h"
#include "foundation/Diagnostics.h"
#include "foundation/FileDescriptor.h"
#include "foundation/FileFolder.h"
#include "foundation/PrivateFiles.h"
#include "foundation/UserFolders.h"
#include "policy/OrganisationLists.h"

#include <cerrno>
#include <map>
#include <mutex>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace MAIL {

namespace {

using Descriptor = FileDescriptor;

// Cuts the bytes of a list file into entries. CR LF counts as one LF, so a
// file with CR LF line ends loads the same entries; a lone CR is an
// ordinary character. Each line is taken in pieces of at most 1023
// characters, and the LF is dropped from the piece it ends. A piece holding
// only the LF of a line that was just cut is not an entry (it would be an
// empty entry, which authorizes everything). Data arrives in chunks, so a
// CR at the end of one waits for the first byte of the next.
class EntryParser {
public:
    // sink gets each entry; it returns false to stop the reading.
    explicit EntryParser(std::function<bool(std::string_view)> sink) : sink_(std::move(sink))
    {
        piece_.reserve(ListFile::PieceLength);
    }

    // False once the sink has stopped.
    bool feed(std::string_view bytes)
    {
        for (const char c : bytes) {
            if (stopped_)
                return false;
            if (pendingCarriageReturn_) {
                pendingCarriageReturn_ = false;
                if (c == '\n') {
                    take('\n');
                    continue;
                }
                take('\r');
                if (stopped_)
                    return false;
            }
            if (c == '\r')
                pendingCarriageReturn_ = true;
            else
                take(c);
        }
        return !stopped_;
    }

    // Ends the text: a last line without a line end is an entry too.
    void finish()
    {
        if (pendingCarriageReturn_) {
            pendingCarriageReturn_ = false;
            take('\r');
        }
        if (!stopped_ && !piece_.empty())
            emit();
    }

    bool stopped() const { return stopped_; }

private:
    void take(char c)
    {
        if (c == '\n') {
            const bool onlyTheLineEnd = piece_.empty() && justCut_;
            justCut_ = false;
            if (!onlyTheLineEnd)
                emit();
            return;
        }
        piece_ += c;
        if (piece_.size() == static_cast<std::size_t>(ListFile::PieceLength)) {
            emit();
            justCut_ = true;
        }
    }

    void emit()
    {
        if (!sink_(piece_))
            stopped_ = true;
        piece_.clear();
    }

    std::function<bool(std::string_view)> sink_;
    std::string piece_;
    bool justCut_ = false;
    bool pendingCarriageReturn_ = false;
    bool stopped_ = false;
};

enum class OpenState { Missing, Open, Failed };

// Opens the list file for reading. Non-blocking, so that a FIFO in its place
// cannot hang the caller; only a regular file is accepted.
OpenState openForReading(const std::string& path, Descriptor& fd)
{
    fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        return errno == ENOENT || errno == ENOTDIR ? OpenState::Missing : OpenState::Failed;
    struct stat info{};
    if (::fstat(fd.get(), &info) != 0)
        return OpenState::Failed;
    if (!S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return OpenState::Failed;
    }
    return OpenState::Open;
}

// The list file's path: in the application's config folder, made when
// missing; without a home folder, in the working directory. Empty when the
// folder can neither be found nor made.
std::string locate(const char* fileName)
{
    const std::string folder = applicationConfigFolder();
    if (folder.empty())
        return std::string("./") + fileName;
    struct stat info{};
    if (::stat(folder.c_str(), &info) == 0)
        diagnostic("Already exists %s\n", folder.c_str());
    else if (FileFolder(folder + "/" + fileName).create())
        diagnostic("Created a new directory=%s\n", folder.c_str());
    else
        diagnostic("Faield to create a directory=%s\n", folder.c_str());
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return {};
    return folder + "/" + fileName;
}

// The text of an errno value (strerror is not safe across threads).
std::string describe(int code) { return std::error_code(code, std::generic_category()).message(); }

} // namespace

ListFile::ListFile(const char* fileName, const char* className)
    : path_(locate(fileName)), fileName_(fileName), className_(className)
{
}

ListFile::~ListFile() = default;

bool ListFile::fail(int error)
{
    lastError_ = error;
    return false;
}

ListFile::ReadResult ListFile::read(const std::function<void(std::unique_ptr<String>)>& sink) const
{
    ReadResult result;
    if (path_.empty())
        return result;
    Descriptor fd;
    switch (openForReading(path_, fd)) {
    case OpenState::Missing:
        return result;
    case OpenState::Failed: {
        const std::string reason = describe(errno);
        result.state = ReadState::Unreadable;
        error(getLogWriter(), "%s#load,1,Cannot read %s: %s", className_, path_.c_str(), reason.c_str());
        return result;
    }
    case OpenState::Open:
        break;
    }
    return readOpen(fd.get(), path_, sink);
}

ListFile::ReadResult ListFile::readOpen(int fd, const std::string& path,
                                        const std::function<void(std::unique_ptr<String>)>& sink) const
{
    ReadResult result;
    EntryParser parser([&](std::string_view entry) {
        if (result.count == MaximumEntries)
            return false;
        sink(std::make_unique<String>(entry));
        ++result.count;
        return true;
    });
    const bool complete = readAll(fd, [&](std::string_view bytes) { return parser.feed(bytes); });
    if (!complete) {
        // What was read stands: a session works with the entries it got.
        const std::string reason = describe(errno);
        result.state = ReadState::Unreadable;
        error(getLogWriter(), "%s#load,2,Cannot read %s: %s", className_, path.c_str(), reason.c_str());
        return result;
    }
    parser.finish();
    if (parser.stopped()) {
        result.state = ReadState::Truncated;
        error(getLogWriter(), "%s#load,3,More than %d entries in %s: the rest is ignored", className_,
              MaximumEntries, path.c_str());
        return result;
    }
    result.state = ReadState::Read;
    return result;
}

int ListFile::readOrganisation(const std::function<void(std::unique_ptr<String>)>& sink) const
{
    int count = 0;
    forEachOrganisationFile(fileName_, className_, [&](int fd, const std::string& path) {
        count += readOpen(fd, path, sink).count;
    });
    return count;
}

int ListFile::loadOrganisation(LinkedList& list) const
{
    return readOrganisation([&](std::unique_ptr<String> entry) { list.addLast(std::move(entry)); });
}

bool ListFile::underLock(const std::function<bool()>& change)
{
    if (path_.empty())
        return fail(ENOENT);
    const FileLock lock(path_ + ".lock");
    if (!lock.isHeld())
        return fail(lock.error());
    return change();
}

bool ListFile::save(const LinkedList& entries)
{
    try {
        std::string content;
        entries.forEach<String>([&](const String& entry) {
            if (entry.hasText()) {
                content += entry.view();
                content += '\n';
            }
        });
        return underLock([&] {
            Descriptor old;
            const OpenState state = openForReading(path_, old);
            if (state == OpenState::Failed)
                return fail(errno);  // its content could not be kept
            // Both new files are complete before either rename, so the list
            // file is never missing and the old content is never lost.
            TemporaryFile backup;
            if (state == OpenState::Open &&
                (!backup.create(path_) ||
                 !readAll(old.get(), [&](std::string_view bytes) { return writeAll(backup.get(), bytes); })))
                return fail(errno);
            TemporaryFile list;
            if (!list.create(path_) || !writeAll(list.get(), content))
                return fail(errno);
            if (state == OpenState::Open) {
                if (!backup.commit(getBackupPath()))
                    return fail(errno);
            } else {
                // No previous content: a backup of older content would be
                // taken for it. Failing to remove it does not stop the save.
                ::unlink(getBackupPath().c_str());
            }
            return list.commit(path_) || fail(errno);
        });
    } catch (...) {
        // Memory exhausted: nothing was renamed.
        return fail(ENOMEM);
    }
}

bool ListFile::remove()
{
    try {
        return underLock([&] { return ::unlink(path_.c_str()) == 0 || fail(errno); });
    } catch (...) {
        return fail(ENOMEM);
    }
}

bool ListFile::append(const AppendPlan& plan)
{
    try {
        return underLock([&] {
            Descriptor old;
            const OpenState state = openForReading(path_, old);
            if (state == OpenState::Failed)
                return fail(errno);
            TemporaryFile list;
            if (!list.create(path_))
                return fail(errno);
            LinkedList entries;
            int count = 0;
            char lastByte = '\n';
            if (state == OpenState::Open) {
                // The old bytes are copied as they are, so an added entry
                // changes nothing else in the file.
                EntryParser parser([&](std::string_view entry) {
                    if (count == MaximumEntries)
                        return false;
                    entries.addLast(std::make_unique<String>(entry));
                    ++count;
                    return true;
                });
                bool written = true;
                const bool complete = readAll(old.get(), [&](std::string_view bytes) {
                    lastByte = bytes.back();
                    written = writeAll(list.get(), bytes);
                    return written && parser.feed(bytes);
                });
                if (!complete || !written)
                    return fail(errno);
                parser.finish();
                if (parser.stopped())
                    return fail(EFBIG);  // not read completely: rewriting would cut it
            }
            std::string text;
            if (!plan(Current{state == OpenState::Open, entries}, text))
                return true;
            if (text.empty() && state == OpenState::Open)
                return true;
            // The last line of the file may lack its line end; the added
            // entries must not run into it.
            if (!text.empty() && lastByte != '\n')
                text.insert(text.begin(), '\n');
            if (!writeAll(list.get(), text) || !list.commit(path_))
                return fail(errno);
            return true;
        });
    } catch (...) {
        return fail(ENOMEM);
    }
}

void ListFile::dumpEntries(const char* header, const LinkedList& entries) const
{
    diagnostic("%s dump Num=%d\n", header, entries.getLength());
    int number = 1;
    entries.forEach<String>([&](const String& entry) {
        diagnostic("%d %s\n", number++, entry.hasText() ? entry.getText() : "");
    });
}

} // namespace MAIL
