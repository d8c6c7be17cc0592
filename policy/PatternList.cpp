#include "policy/PatternList.h"

#include "config/LogWriter.h"
#include "foundation/Exception.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

namespace MAIL {

namespace {

// The compared part of a recipient text: after the first '<' up to the last
// '>' that follows it; the whole text when there is no '<'. Nothing else is
// removed, so blanks, quotes and letter case count.
std::string_view addressKey(std::string_view text)
{
    const auto open = text.find('<');
    if (open == std::string_view::npos)
        return text;
    text.remove_prefix(open + 1);
    const auto close = text.rfind('>');
    return close == std::string_view::npos ? text : text.substr(0, close);
}

// printf cannot take a null text; the log shows it the way the C library would.
const char* printable(const char* text) { return text == nullptr ? "(null)" : text; }

int printLength(std::string_view text) { return static_cast<int>(text.size()); }

// ASCII only: a locale must not change which mails are under caution.
char foldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameIgnoringCase(char a, char b) { return foldAscii(a) == foldAscii(b); }

bool containsIgnoringCase(std::string_view text, std::string_view part)
{
    return std::search(text.begin(), text.end(), part.begin(), part.end(), sameIgnoringCase) != text.end();
}

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() &&
           std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                      sameIgnoringCase);
}

// The first entry, never an empty one, that match accepts; empty for none.
// An empty caution entry matches nothing, unlike an authorized domain.
template <class Match>
std::string_view firstEntry(const Iterator* node, Match match)
{
    for (; node != nullptr; node = node->getNext()) {
        const std::string_view entry = static_cast<const String*>(node->getElement())->view();
        if (!entry.empty() && match(entry))
            return entry;
    }
    return {};
}

} // namespace

PatternList::~PatternList() = default;

void PatternList::add(String* entry) { add(std::unique_ptr<String>(entry)); }

void PatternList::add(std::unique_ptr<String> entry)
{
    if (!entry)
        return;
    std::unique_ptr<Iterator> node;
    try {
        node = std::make_unique<Iterator>(entry.get(), head_.get());
    } catch (const std::bad_alloc&) {
        throw Exception(Exception::OutOfMemory, "PatternList#add,1,Failed to allocate memory");
    }
    // The node owns the entry and the old chain now.
    entry.release();
    head_.release();
    head_ = std::move(node);
}

int PatternList::count() const
{
    int count = 0;
    for (const Iterator* node = head_.get(); node != nullptr; node = node->getNext())
        ++count;
    return count;
}

void PatternList::dump()
{
    LogWriter* log = getLogWriter();
    int number = 0;
    for (const Iterator* node = head_.get(); node != nullptr; node = node->getNext(), ++number) {
        const auto* entry = static_cast<const String*>(node->getElement());
        debug(log, "PatternList#dump,%d,pattern=[%s]", number, printable(entry->getText()));
    }
}

bool PatternList::isTrustedRecipient(const char* address) const
{
    LogWriter* log = getLogWriter();
    debug(log, "PatternList#isTrustedRecipient,address=[%s]", printable(address));
    if (address == nullptr || address[0] == '\0')
        return false;
    const std::size_t length = std::strlen(address);
    if (length > MaximumAddressLength)
        return false;
    const std::string_view addressPart = addressKey({address, length});
    int number = 0;
    for (const Iterator* node = head_.get(); node != nullptr; node = node->getNext(), ++number) {
        const auto* entry = static_cast<const String*>(node->getElement());
        debug(log, "PatternList#isTrustedRecipient,2,address=[%s] str=[%s]", address, printable(entry->getText()));
        // The file reader never yields longer entries; one added by other
        // means is held to the same limit as the address.
        if (!entry->hasText() || entry->getLength() > MaximumAddressLength)
            continue;
        const std::string_view entryPart = addressKey(entry->view());
        debug(log, "PatternList#isContained,Try %d,address=[%.*s] pattern=[%.*s]", number,
              printLength(addressPart), addressPart.data(), printLength(entryPart), entryPart.data());
        if (addressPart == entryPart) {
            debug(log, "PatternList#isContained,%d,address=[%.*s] pattern=[%.*s]", number,
                  printLength(addressPart), addressPart.data(), printLength(entryPart), entryPart.data());
            return true;
        }
    }
    return false;
}

bool PatternList::isAllowedDomain(const char* address) const
{
    if (address == nullptr || address[0] == '\0')
        return false;
    const std::string_view text(address);
    int number = 0;
    for (const Iterator* node = head_.get(); node != nullptr; node = node->getNext(), ++number) {
        const auto* entry = static_cast<const String*>(node->getElement());
        if (entry->hasText() && text.find(entry->view()) != std::string_view::npos) {
            debug(getLogWriter(), "PatternList#isAllowedDomain,%d,address=[%s] pattern=[%s]", number, address,
                  entry->getText());
            return true;
        }
    }
    return false;
}

bool PatternList::isCautionDomain(const char* address) const
{
    if (address == nullptr)
        return false;
    const std::string_view text(address);
    const std::string_view entry =
        firstEntry(head_.get(), [&](std::string_view pattern) { return containsIgnoringCase(text, pattern); });
    if (entry.empty())
        return false;
    debug(getLogWriter(), "PatternList#isCautionDomain,1,address=[%s] pattern=[%.*s]", address, printLength(entry),
          entry.data());
    return true;
}

bool PatternList::isCautionAttachment(const char* fileName) const
{
    if (fileName == nullptr)
        return false;
    const std::string_view name(fileName);
    const std::string_view entry = firstEntry(head_.get(), [&](std::string_view pattern) {
        return pattern.front() == '.' ? endsWithIgnoringCase(name, pattern) : containsIgnoringCase(name, pattern);
    });
    if (entry.empty())
        return false;
    debug(getLogWriter(), "PatternList#isCautionAttachment,1,name=[%s] pattern=[%.*s]", fileName, printLength(entry),
          entry.data());
    return true;
}

} // namespace MAIL
