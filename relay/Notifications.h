// Notifications: how the relay tells the user what happens to each mail.
//
// The four balloon functions cut their text at 254 bytes (never inside a
// UTF-8 character) and hand title, text, kind and display time to the
// notification sink; showMessageBox() hands a message box to the message-box
// sink. The program installs the sinks (terminal, desktop) before any thread
// starts; the defaults write one whole entry at a time to standard error and
// never block on a user. Any thread may call these at any time.
//
// Text from a mail (subject, sender) is escaped with visibleText() where the
// notice is built, before it joins the notice's own CR LF; every sink keeps
// CR LF as its line break and escapes whatever else is left.
#pragma once

#include "foundation/VisibleText.h"

#include <functional>
#include <string>
#include <string_view>

namespace MAIL {

enum class NoticeKind { Information, Warning, Error };

struct Balloon {
    std::string title;  // "Pelorus"
    std::string text;   // at most 254 bytes
    NoticeKind kind;
    int milliseconds;   // display time
};

using NotificationSink = std::function<void(const Balloon&)>;
using MessageBoxSink = std::function<void(const std::string& title, const std::string& text, NoticeKind kind)>;

// Installs a sink; an empty function restores the default.
void setNotificationSink(NotificationSink sink);
void setMessageBoxSink(MessageBoxSink sink);

bool showInfoBalloon(std::string_view text);                 // information, 6 s
bool showWarningBalloon(std::string_view text);              // warning, 3 s
bool showErrorBalloon(std::string_view text);                // error, 3 s
bool showTimedBalloon(std::string_view text, int seconds);   // information
void showMessageBox(std::string_view title, std::string_view text, NoticeKind kind);

// The text cut to at most limit bytes, never inside a UTF-8 character.
std::string cutUtf8(std::string_view text, std::size_t limit);

// The words of the default sink: "info", "warning", "error".
const char* noticeWord(NoticeKind kind);

} // namespace MAIL
