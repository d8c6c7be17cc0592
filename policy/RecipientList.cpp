#include "policy/RecipientList.h"

#include "config/LogWriter.h"
#include "foundation/String.h"

namespace MAIL {

RecipientList::~RecipientList() = default;

void RecipientList::dump()
{
    LogWriter* log = getLogWriter();
    int number = 0;
    forEach<String>([&](const String& element) {
        debug(log, "RecipientList#dump,%d,pattern=[%s]", number++,
              element.hasText() ? element.getText() : "(null)");
    });
}

void RecipientList::join(std::string& text) const
{
    forEach<String>([&](const String& element) {
        text += element.view();
        text += ',';
    });
}

} // namespace MAIL
