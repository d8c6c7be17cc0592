#include "relay/Notifications.h"

#include <cstdio>
#include <mutex>

namespace MAIL {

namespace {

constexpr std::size_t BalloonLimit = 254;

std::mutex sinkLock;
NotificationSink notificationSink;
MessageBoxSink messageBoxSink;

void writeToStandardError(const std::string& entry)
{
    static std::mutex writeLock;
    std::lock_guard guard(writeLock);
    std::fwrite(entry.data(), 1, entry.size(), stderr);
    std::fflush(stderr);
}

bool deliver(std::string_view text, NoticeKind kind, int milliseconds)
{
    Balloon balloon{"Pelorus", cutUtf8(text, BalloonLimit), kind, milliseconds};
    NotificationSink sink;
    {
        std::lock_guard guard(sinkLock);
        sink = notificationSink;
    }
    if (sink) {
        sink(balloon);
        return true;
    }
    writeToStandardError(std::string("Pelorus: ") + noticeWord(kind) + ": " + visibleText(balloon.text, true) +
                         "\n");
    return true;
}

} // namespace

const char* noticeWord(NoticeKind kind)
{
    switch (kind) {
    case NoticeKind::Warning:
        return "warning";
    case NoticeKind::Error:
        return "error";
    case NoticeKind::Information:
        break;
    }
    return "info";
}

std::string cutUtf8(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit)
        return std::string(text);
    std::size_t end = limit;
    // Step back over continuation bytes to the start of the cut character.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return std::string(text.substr(0, end));
}

void setNotificationSink(NotificationSink sink)
{
    std::lock_guard guard(sinkLock);
    notificationSink = std::move(sink);
}

void setMessageBoxSink(MessageBoxSink sink)
{
    std::lock_guard guard(sinkLock);
    messageBoxSink = std::move(sink);
}

bool showInfoBalloon(std::string_view text) { return deliver(text, NoticeKind::Information, 6000); }

bool showWarningBalloon(std::string_view text) { return deliver(text, NoticeKind::Warning, 3000); }

bool showErrorBalloon(std::string_view text) { return deliver(text, NoticeKind::Error, 3000); }

bool showTimedBalloon(std::string_view text, int seconds)
{
    return deliver(text, NoticeKind::Information, seconds * 1000);
}

void showMessageBox(std::string_view title, std::string_view text, NoticeKind kind)
{
    MessageBoxSink sink;
    {
        std::lock_guard guard(sinkLock);
        sink = messageBoxSink;
    }
    if (sink) {
        sink(std::string(title), std::string(text), kind);
        return;
    }
    writeToStandardError("Pelorus: " + std::string(noticeWord(kind)) + ": " + visibleText(title, false) + ": " +
                         visibleText(text, true) + "\n");
}

} // namespace MAIL
