#include "shell/TerminalText.h"

#include "foundation/String.h"
#include "relay/HeldMails.h"
#include "relay/Notifications.h"
#include "relay/SessionText.h"

#include <algorithm>

namespace MAIL {

std::string balloonLine(const Balloon& balloon)
{
    const std::string prefix = std::string("Pelorus: ") + noticeWord(balloon.kind) + ": ";
    const std::string indent(prefix.size(), ' ');
    std::string text = visibleText(balloon.text, true);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    std::string line = prefix;
    for (std::size_t i = 0; i < text.size(); ++i) {
        line += text[i];
        if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] != '\n')
            line += indent;  // an empty line stays empty
    }
    line += '\n';
    return line;
}

std::string holdLine(const HeldMail& mail)
{
    return "Sending in " + std::to_string(mail.seconds) + " s: '" + balloonSubject(mail.subject, 210) +
           "'. Type u " + std::to_string(mail.number) + " and Enter to undo.\n";
}

std::optional<std::string> undoNumber(std::string_view line)
{
    line = trimView(line);
    if (line.empty() || (line.front() != 'u' && line.front() != 'U'))
        return std::nullopt;
    const std::string_view number = trimView(line.substr(1));
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (number.empty() || !std::all_of(number.begin(), number.end(), digit))
        return std::nullopt;
    return std::string(number);
}

std::string notHeldLine(const std::string& number) { return "No mail " + number + " is held.\n"; }

} // namespace MAIL
