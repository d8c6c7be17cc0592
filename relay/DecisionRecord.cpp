#include "relay/DecisionRecord.h"

#include "config/LogTag.h"
#include "config/LogWriter.h"
#include "config/ProxyConfiguration.h"
#include "foundation/FileDescriptor.h"
#include "foundation/PrivateFiles.h"
#include "foundation/UserFolders.h"
#include "relay/Notifications.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace MAIL {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view LogClass = "DecisionRecord";

// What --decisions reads of a file at most: its newest bytes.
constexpr std::size_t ReadLimit = 32 * 1024 * 1024;

std::mutex fileLock;
std::atomic<bool> warned{false};

const char* outcomeText(MailOutcome outcome)
{
    switch (outcome) {
    case MailOutcome::Sent: return "sent";
    case MailOutcome::Cancelled: return "cancelled";
    case MailOutcome::Timeout: return "timeout";
    case MailOutcome::Replaced: return "replaced";
    case MailOutcome::Undone: return "undone";
    case MailOutcome::Refused: return "refused";
    case MailOutcome::Failed: return "failed";
    }
    return "failed";
}

const char* deciderText(DecidedBy by)
{
    switch (by) {
    case DecidedBy::User: return "user";
    case DecidedBy::NoQuestion: return "no-question";
    case DecidedBy::Nobody: return "nobody";
    }
    return "nobody";
}

Json optionalText(const std::optional<std::string>& text) { return text ? Json(*text) : Json(nullptr); }

// RFC 3339, UTC, milliseconds: 2026-12-07T16:20:05.123Z.
std::string utcStamp(std::chrono::system_clock::time_point when)
{
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
    std::tm parts{};
    ::gmtime_r(&seconds, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(milliseconds % 1000));
    return text;
}

// Moves the file aside when the line would take it past the limit.
void rotateWhenDue(int folder, std::size_t incoming)
{
    struct stat info{};
    if (::fstatat(folder, DecisionFileName, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size == 0 || static_cast<std::uint64_t>(info.st_size) + incoming <= RotateBytes)
        return;
    ::unlinkat(folder, SecondRotatedName, 0);
    ::renameat(folder, FirstRotatedName, folder, SecondRotatedName);
    ::renameat(folder, DecisionFileName, folder, FirstRotatedName);
}

// The newest bytes of a file in folder (at most ReadLimit, from a line's
// start); empty when it cannot be read.
std::string readTail(const std::string& folder, const char* name)
{
    FileDescriptor fd(::open((folder + "/" + name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info{};
    if (!fd.isOpen() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    const auto size = static_cast<std::uint64_t>(info.st_size);
    const std::uint64_t start = size > ReadLimit ? size - ReadLimit : 0;
    std::string text(static_cast<std::size_t>(size - start), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::pread(fd.get(), text.data() + got, text.size() - got, static_cast<off_t>(start + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    if (start > 0) {
        // The first line was cut by the limit: it is no whole record.
        const std::size_t end = text.find('\n');
        text.erase(0, end == std::string::npos ? text.size() : end + 1);
    }
    return text;
}

// The time of a record's stamp; false for anything but the stamp we write.
bool parseStamp(const std::string& text, std::time_t& out)
{
    std::tm parts{};
    int milliseconds = 0;
    char zone = '\0';
    if (text.size() != 24 || std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c", &parts.tm_year,
                                         &parts.tm_mon, &parts.tm_mday, &parts.tm_hour, &parts.tm_min,
                                         &parts.tm_sec, &milliseconds, &zone) != 8 || zone != 'Z')
        return false;
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    out = ::timegm(&parts);
    return out != static_cast<std::time_t>(-1);
}

// One line read back; nothing when it is no record.
std::optional<RecentDecision> parseRecent(std::string_view line)
{
    const Json object = Json::parse(line.begin(), line.end(), nullptr, false);
    if (!object.is_object())
        return std::nullopt;
    const auto time = object.find("time");
    const auto decision = object.find("decision");
    const auto subject = object.find("subject");
    const auto recipients = object.find("recipients");
    if (time == object.end() || !time->is_string() || decision == object.end() || !decision->is_string() ||
        subject == object.end() || !subject->is_string() || recipients == object.end() || !recipients->is_array())
        return std::nullopt;
    RecentDecision entry{0, decision->get<std::string>(), recipients->size(), {}, subject->get<std::string>()};
    if (!parseStamp(time->get<std::string>(), entry.time))
        return std::nullopt;
    if (!recipients->empty()) {
        const Json& first = recipients->front();
        if (first.is_object() && first.contains("address") && first["address"].is_string())
            entry.firstRecipient = first["address"].get<std::string>();
    }
    return entry;
}

// Takes records from the end of text, newest first, until found holds count.
void takeNewest(std::string_view text, std::size_t count, std::vector<RecentDecision>& found, std::size_t& broken)
{
    while (!text.empty() && found.size() < count) {
        if (text.back() == '\n')
            text.remove_suffix(1);
        const std::size_t start = text.rfind('\n');
        const std::string_view line = start == std::string_view::npos ? text : text.substr(start + 1);
        text.remove_suffix(line.size());
        if (line.empty())
            continue;
        if (std::optional<RecentDecision> entry = parseRecent(line))
            found.push_back(std::move(*entry));
        else
            ++broken;
    }
}

void reportFailure(const std::string& folder, int reason)
{
    error(getLogWriter(), "%s,1,The record of decisions could not be written in %s: %s",
          logTag(LogClass).c_str(), folder.c_str(), std::strerror(reason));
    if (!warned.exchange(true))
        showWarningBalloon("Pelorus could not write its record of decisions in:\r\n'" + visibleText(folder, false) +
                           "'");
}

} // namespace

std::string decisionFolder()
{
    const std::string state = stateFolder();
    return state.empty() ? std::string() : state + "/Pelorus";
}

std::string decisionLine(const DecisionRecord& record, std::chrono::system_clock::time_point when)
{
    Json recipients = Json::array();
    for (const RecordedRecipient& r : record.recipients)
        recipients.push_back({{"address", r.address},
                              {"field", r.field},
                              {"trusted", r.trusted},
                              {"authorized", r.authorized},
                              {"new", r.isNew},
                              {"caution", r.caution}});
    Json attachments = Json::array();
    for (const RecordedAttachment& a : record.attachments)
        attachments.push_back({{"name", a.name}, {"protection", optionalText(a.protection)}, {"caution", a.caution}});
    Json line = {
        {"time", utcStamp(when)},
        {"message_id", optionalText(record.messageId)},
        {"subject", record.subject},
        {"from", record.from},
        {"recipients", std::move(recipients)},
        {"attachments", std::move(attachments)},
        {"security", {{"irm", record.irm}, {"smime", record.smime}}},
        {"warnings", record.warnings},
        {"decision", outcomeText(record.decision)},
        {"decided_by", deciderText(record.decidedBy)},
        {"hold_seconds", record.holdSeconds},
        {"server_reply", optionalText(record.serverReply)},
    };
    // Invalid UTF-8 from a mail is replaced, never a reason to throw.
    return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool appendDecisionLine(const std::string& folder, std::string_view line)
{
    std::lock_guard guard(fileLock);
    const FileDescriptor dir = openPrivateFolder(folder);
    if (!dir.isOpen())
        return false;
    rotateWhenDue(dir.get(), line.size());
    const FileDescriptor file(
        ::openat(dir.get(), DecisionFileName, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat info{};
    if (!file.isOpen() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    if ((info.st_mode & 07777) != 0600 && ::fchmod(file.get(), 0600) != 0)
        return false;
    ssize_t written = -1;
    do
        written = ::write(file.get(), line.data(), line.size());
    while (written < 0 && errno == EINTR);
    if (written >= 0 && static_cast<std::size_t>(written) != line.size())
        errno = ENOSPC;  // a short write leaves a line without its end
    return written >= 0 && static_cast<std::size_t>(written) == line.size();
}

void recordDecision(const DecisionRecord& record) noexcept
{
    try {
        bool keep = true;
        ProxyConfiguration().getDecisionLog(keep);
        if (!keep)
            return;
        const std::string folder = decisionFolder();
        if (!appendDecisionLine(folder, decisionLine(record, std::chrono::system_clock::now())))
            reportFailure(folder, errno);
    } catch (...) {
        try {
            reportFailure(decisionFolder(), ENOMEM);
        } catch (...) {
        }
    }
}

RecentDecisions readRecentDecisions(const std::string& folder, std::size_t count)
{
    RecentDecisions result;
    takeNewest(readTail(folder, DecisionFileName), count, result.entries, result.broken);
    if (result.entries.size() < count)
        takeNewest(readTail(folder, FirstRotatedName), count, result.entries, result.broken);
    std::reverse(result.entries.begin(), result.entries.end());
    return result;
}

} // namespace MAIL
