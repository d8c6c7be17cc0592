#include "relay/SessionText.h"

#include "foundation/VisibleText.h"
#include "relay/Notifications.h"

std::string MAIL::balloonSubject(std::string_view subject, std::size_t threshold)
{
    // Cut first, so the escapes are never cut in half.
    if (subject.size() <= threshold)
        return visibleText(subject, false);
    return visibleText(cutUtf8(subject, 200), false) + "...";
}
