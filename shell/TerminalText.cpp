#include "shell/TerminalText.h"

#include "relay/Notifications.h"

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

} // namespace MAIL
