// DecisionRecord: the record of what became of every judged mail.
//
// Each mail the proxy judged leaves one JSON object on one line of
// decisions.jsonl in the user's state folder ($XDG_STATE_HOME/Pelorus, else
// ~/.local/state/Pelorus): when, which mail (Message-ID, subject, sender),
// to whom (each envelope recipient, where the confirmation placed it and
// how the lists judged it), what it carried, its security state, the
// warnings shown, the decision, who made it, and the server's last word.
// The record stays on this machine; it holds subjects and every hidden
// recipient, so it is private: 0600 in a 0700 folder, never written through
// a link. DecisionLog = 0 turns it off.
//
// All sessions write through recordDecision(): one lock, one whole line per
// write() with O_APPEND, so lines never interleave. A line that would take
// the file past RotateBytes first rotates it: decisions.2.jsonl is deleted,
// decisions.1.jsonl becomes .2, the file becomes .1 (renames act on names,
// never on what a link points to). A write that fails is logged as an
// ERROR and, once per run, shown as a warning balloon; the mail itself is
// never held up by its record.
//
// Lines are made by the JSON library, text from the mail included: control
// characters are escaped and invalid UTF-8 is replaced, so no subject can
// break or forge a line. readRecentDecisions() reads the newest lines back
// (from decisions.1.jsonl too when needed) for `pelorus --decisions`,
// skipping and counting lines that are no record.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace MAIL {

enum class MailOutcome { Sent, Cancelled, Timeout, Replaced, Undone, Refused, Failed };
enum class DecidedBy { User, NoQuestion, Nobody };

struct RecordedRecipient {
    std::string address;
    const char* field;  // "to", "cc" or "bcc"
    bool trusted;
    bool authorized;
    bool isNew = false;
    bool caution = false;
};

struct RecordedAttachment {
    std::string name;
    std::optional<std::string> protection;  // "PWD", "IRM", "x"; none when not checked
    bool caution = false;
};

struct DecisionRecord {
    std::optional<std::string> messageId;
    std::string subject;
    std::string from;
    std::vector<RecordedRecipient> recipients;
    std::vector<RecordedAttachment> attachments;
    bool irm = false;
    bool smime = false;
    std::vector<std::string> warnings;
    // Failed until a 2xx to the end of the data says otherwise.
    MailOutcome decision = MailOutcome::Failed;
    DecidedBy decidedBy = DecidedBy::NoQuestion;
    int holdSeconds = 0;
    std::optional<std::string> serverReply;
};

inline constexpr std::uint64_t RotateBytes = 10 * 1024 * 1024;
inline constexpr const char* DecisionFileName = "decisions.jsonl";
inline constexpr const char* FirstRotatedName = "decisions.1.jsonl";
inline constexpr const char* SecondRotatedName = "decisions.2.jsonl";

// The folder of the record; empty when there is no home.
std::string decisionFolder();

// The record as one line, LF included, stamped with the time given.
std::string decisionLine(const DecisionRecord& record, std::chrono::system_clock::time_point when);

// Appends one whole line to the record in folder (made private when
// missing), rotating first when the line would take the file past
// RotateBytes. False when the line was not written whole.
bool appendDecisionLine(const std::string& folder, std::string_view line);

// Writes the record of a judged mail, unless DecisionLog is 0. Never
// throws; a failure is logged and shown once per run.
void recordDecision(const DecisionRecord& record) noexcept;

// One line of the record as `pelorus --decisions` shows it.
struct RecentDecision {
    std::time_t time;
    std::string decision;
    std::size_t recipientCount;
    std::string firstRecipient;
    std::string subject;
};

struct RecentDecisions {
    std::vector<RecentDecision> entries;  // oldest first
    std::size_t broken = 0;               // lines skipped on the way
};

// The newest count records in folder, from decisions.1.jsonl too when the
// current file holds fewer.
RecentDecisions readRecentDecisions(const std::string& folder, std::size_t count);

} // namespace MAIL
