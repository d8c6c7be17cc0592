// SentRecipients: the addresses this user has sent mail to, so that the
// first mail to an address can be pointed out before it leaves.
//
// The history is the file SentRecipients in $XDG_STATE_HOME/Pelorus (else
// ~/.local/state/Pelorus; the log's folder setting does not move it), 0600
// in a 0700 folder, never read or written through a link. Its first line is
// "# since YYYY-MM-DD", the day the history began; each later line is an
// address in lower case, a tab, and the day of its last send, oldest first.
// Days are UTC, taken from an injectable clock.
//
// remember() takes the envelope addresses of one mail the server accepted:
// each is added or re-dated to today in one rewrite (a temporary file
// renamed over the history, under FileLock), so sessions writing at once
// never lose an update. At most MaximumAddresses are kept; the oldest go
// first. A history that cannot be read whole is never rewritten: the update
// fails with an ERROR line and the old file stays until forget() starts
// the history afresh. A missing history is made by the first update.
//
// The file is untrusted input: its size, line lengths and line count are
// bounded, and a line out of form makes the whole history unreadable.
// An unreadable history counts every address as new; a missing one, or one
// in its first LearningDays days, counts none. An address that cannot be
// stored (empty, too long, control characters) stays new.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace MAIL {

class SentRecipients {
public:
    static constexpr std::size_t MaximumAddresses = 20000;
    static constexpr std::size_t MaximumAddressLength = 1023;
    static constexpr int LearningDays = 7;
    static constexpr const char* FileName = "SentRecipients";

    using Clock = std::function<std::chrono::system_clock::time_point()>;
    enum class State { Missing, Read, Unreadable };

    // The history in folder; without a clock, the system's.
    explicit SentRecipients(std::string folder = historyFolder(), Clock clock = {});

    // $XDG_STATE_HOME/Pelorus or ~/.local/state/Pelorus; empty without a home.
    static std::string historyFolder();

    // Reads the history as it is now.
    State load();
    State state() const { return state_; }
    // Whether a mail to address (case ignored) is a first one, by the
    // history last loaded.
    bool isNew(std::string_view address) const;

    // Adds or re-dates the addresses of one forwarded mail. False, with an
    // ERROR line and the old file kept, when the history was not updated.
    bool remember(const std::vector<std::string>& addresses);
    // Starts the history afresh: only a since line dated today.
    bool forget();

    std::string path() const { return folder_ + "/" + FileName; }

private:
    struct Entry {
        std::string address;
        std::chrono::sys_days last;
    };

    std::chrono::sys_days today() const;
    State read(std::vector<Entry>& entries, std::chrono::sys_days& since) const;
    bool write(const std::vector<Entry>& entries, std::chrono::sys_days since) const;
    // Runs rewrite in the private folder under the history's locks; logs
    // an ERROR when it cannot run or answers false (with errno set).
    bool change(const char* function, const std::function<bool()>& rewrite) const;
    bool failed(const char* function, int code) const;

    std::string folder_;
    Clock clock_;
    State state_ = State::Missing;
    std::chrono::sys_days since_{};
    std::unordered_map<std::string, std::chrono::sys_days> known_;
};

} // namespace MAIL
