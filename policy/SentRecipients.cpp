#include "policy/SentRecipients.h"

#include "config/LogWriter.h"
#include "foundation/FileDescriptor.h"
#include "foundation/PrivateFiles.h"
#include "foundation/String.h"
#include "foundation/UserFolders.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>

namespace MAIL {

namespace {

using std::chrono::sys_days;

constexpr std::string_view SinceMark = "# since ";
constexpr std::size_t DateLength = 10;  // YYYY-MM-DD
// The largest history that can be well formed: anything bigger is damage.
constexpr std::size_t MaximumBytes = SinceMark.size() + DateLength + 1 +
                                     SentRecipients::MaximumAddresses *
                                         (SentRecipients::MaximumAddressLength + 1 + DateLength + 1);

// A line of the file cannot carry it otherwise.
bool storable(std::string_view address)
{
    return !address.empty() && address.size() <= SentRecipients::MaximumAddressLength &&
           std::none_of(address.begin(), address.end(), [](char c) {
               return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
           });
}

std::string dateText(sys_days day)
{
    const std::chrono::year_month_day date{day};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

bool parseDate(std::string_view text, sys_days& day)
{
    if (text.size() != DateLength || text[4] != '-' || text[7] != '-')
        return false;
    int parts[3] = {0, 0, 0};
    for (std::size_t i = 0, part = 0; i < text.size(); ++i) {
        if (i == 4 || i == 7) {
            ++part;
            continue;
        }
        if (text[i] < '0' || text[i] > '9')
            return false;
        parts[part] = parts[part] * 10 + (text[i] - '0');
    }
    const std::chrono::year_month_day date{std::chrono::year(parts[0]),
                                           std::chrono::month(static_cast<unsigned>(parts[1])),
                                           std::chrono::day(static_cast<unsigned>(parts[2]))};
    if (!date.ok())
        return false;
    day = sys_days(date);
    return true;
}

std::string describe(int code) { return std::error_code(code, std::generic_category()).message(); }

} // namespace

SentRecipients::SentRecipients(std::string folder, Clock clock) : folder_(std::move(folder)), clock_(std::move(clock))
{
    if (!clock_)
        clock_ = [] { return std::chrono::system_clock::now(); };
}

std::string SentRecipients::historyFolder()
{
    const std::string state = stateFolder();
    return state.empty() ? std::string() : state + "/Pelorus";
}

sys_days SentRecipients::today() const { return std::chrono::floor<std::chrono::days>(clock_()); }

bool SentRecipients::failed(const char* function, int code) const
{
    const std::string reason = describe(code);
    error(getLogWriter(), "SentRecipients#%s,1,Cannot update %s: %s", function, path().c_str(), reason.c_str());
    return false;
}

SentRecipients::State SentRecipients::read(std::vector<Entry>& entries, sys_days& since) const
{
    entries.clear();
    if (folder_.empty()) {
        errno = ENOENT;
        return State::Unreadable;  // no home: nothing can be known
    }
    const FileDescriptor file(::open(path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.isOpen())
        return errno == ENOENT ? State::Missing : State::Unreadable;
    struct stat info{};
    if (::fstat(file.get(), &info) != 0)
        return State::Unreadable;
    if (!S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) > MaximumBytes) {
        errno = S_ISREG(info.st_mode) ? EFBIG : EINVAL;
        return State::Unreadable;
    }
    std::string text;
    text.reserve(static_cast<std::size_t>(info.st_size));
    const bool complete = readAll(file.get(), [&](std::string_view bytes) {
        text += bytes;
        return text.size() <= MaximumBytes;  // it may have grown since fstat
    });
    errno = EINVAL;  // the reason for any damage found below
    if (!complete || text.size() > MaximumBytes || text.empty() || text.back() != '\n')
        return State::Unreadable;
    std::string_view rest(text);
    const std::string_view first = rest.substr(0, rest.find('\n'));
    if (!first.starts_with(SinceMark) || !parseDate(first.substr(SinceMark.size()), since))
        return State::Unreadable;
    rest.remove_prefix(first.size() + 1);
    while (!rest.empty()) {
        const std::string_view line = rest.substr(0, rest.find('\n'));
        rest.remove_prefix(line.size() + 1);
        const std::size_t tab = line.find('\t');
        Entry entry;
        if (tab == std::string_view::npos || !storable(line.substr(0, tab)) ||
            !parseDate(line.substr(tab + 1), entry.last) || entries.size() == MaximumAddresses)
            return State::Unreadable;
        entry.address = asciiLower(line.substr(0, tab));
        entries.push_back(std::move(entry));
    }
    return State::Read;
}

SentRecipients::State SentRecipients::load()
{
    std::vector<Entry> entries;
    known_.clear();
    state_ = read(entries, since_);
    if (state_ == State::Unreadable) {
        const std::string reason = describe(errno);
        error(getLogWriter(), "SentRecipients#load,1,Cannot read %s: %s", path().c_str(), reason.c_str());
        return state_;
    }
    for (Entry& entry : entries)
        known_[std::move(entry.address)] = entry.last;
    return state_;
}

bool SentRecipients::isNew(std::string_view address) const
{
    switch (state_) {
    case State::Unreadable: return true;
    case State::Missing: return false;  // learning from its first update on
    case State::Read: break;
    }
    // A since date ahead of the clock starts no learning period.
    const auto age = today() - since_;
    if (age >= std::chrono::days(0) && age < std::chrono::days(LearningDays))
        return false;
    return known_.find(asciiLower(address)) == known_.end();
}

bool SentRecipients::write(const std::vector<Entry>& entries, sys_days since) const
{
    std::string text = std::string(SinceMark) + dateText(since) + "\n";
    for (const Entry& entry : entries)
        text += entry.address + "\t" + dateText(entry.last) + "\n";
    TemporaryFile file;
    // Rewritten after every mail that went out: no flush to disk each time.
    // The rename keeps the file whole; a crash may cost the last updates,
    // and a recipient lost that way is only asked about once more.
    return file.create(path()) && writeAll(file.get(), text) && file.commit(path(), false);
}

bool SentRecipients::change(const char* function, const std::function<bool()>& rewrite) const
{
    try {
        const FileDescriptor folder = openPrivateFolder(folder_);
        if (!folder.isOpen())
            return failed(function, errno);
        const FileLock lock(path() + ".lock");
        if (!lock.isHeld())
            return failed(function, lock.error());
        return rewrite() || failed(function, errno);
    } catch (const std::bad_alloc&) {
        return failed(function, ENOMEM);
    }
}

bool SentRecipients::remember(const std::vector<std::string>& addresses)
{
    return change("remember", [&] {
        std::vector<Entry> entries;
        sys_days since{};
        const State current = read(entries, since);
        if (current == State::Unreadable)
            return false;  // rewriting would lose what could not be read
        const sys_days now = today();
        if (current == State::Missing)
            since = now;
        std::vector<std::string> sent;
        for (const std::string& address : addresses)
            if (std::string lower = asciiLower(address);
                storable(lower) && std::find(sent.begin(), sent.end(), lower) == sent.end())
                sent.push_back(std::move(lower));
        // Re-dated addresses move to the end, so the file stays oldest first.
        std::erase_if(entries, [&](const Entry& e) {
            return std::find(sent.begin(), sent.end(), e.address) != sent.end();
        });
        for (std::string& address : sent)
            entries.push_back({std::move(address), now});
        std::stable_sort(entries.begin(), entries.end(),
                         [](const Entry& a, const Entry& b) { return a.last < b.last; });
        if (entries.size() > MaximumAddresses)
            entries.erase(entries.begin(),
                          entries.begin() + static_cast<std::ptrdiff_t>(entries.size() - MaximumAddresses));
        return write(entries, since);
    });
}

bool SentRecipients::forget()
{
    return change("forget", [&] { return write({}, today()); });
}

} // namespace MAIL
