#include "policy/TrustedDomain.h"

#include "config/ProxyConfiguration.h"
#include "foundation/Diagnostics.h"
#include "foundation/StringTokenizer.h"

#include <string>

namespace MAIL {

TrustedDomain::TrustedDomain() : ListFile(FileName, "TrustedDomain") {}

TrustedDomain::~TrustedDomain() = default;

int TrustedDomain::load(LinkedList& list)
{
    const ReadResult result = read([&](std::unique_ptr<String> entry) { list.addLast(std::move(entry)); });
    if (result.state == ReadState::Missing || result.count > 0)
        return result.count;
    return seed([&](const String& token) { list.addLast(std::make_unique<String>(token)); });
}

int TrustedDomain::load(PatternList& list)
{
    const auto sink = [&](std::unique_ptr<String> entry) { list.add(std::move(entry)); };
    const ReadResult result = read(sink);
    int count = result.count;
    if (result.state != ReadState::Missing && result.count == 0)
        count = seed([&](const String& token) { list.add(std::make_unique<String>(token)); });
    return count + readOrganisation(sink);
}

int TrustedDomain::seed(const std::function<void(const String&)>& target)
{
    std::string allowed;
    ProxyConfiguration().getAllowed(allowed);
    LinkedList tokens;
    // Quote mode 1: a ';' between double quotes does not split, and the
    // quotes are dropped.
    StringTokenizer tokenizer(allowed.c_str(), ';', 1);
    while (tokenizer.hasMoreTokens()) {
        auto token = std::make_unique<String>();
        tokenizer.nextToken(*token);
        token->trim();
        tokens.addLast(std::move(token));
    }
    int count = 0;
    tokens.forEach<String>([&](const String& token) {
        target(token);
        ++count;
    });
    if (count > 0)
        addMissing(tokens, true);
    return count;
}

bool TrustedDomain::add(const LinkedList& entries) { return addMissing(entries, false); }

bool TrustedDomain::addMissing(const LinkedList& entries, bool onlyToAnEmptyFile)
{
    diagnostic("add(LinkedList& recipient)\n");
    return append([&](const Current& current, std::string& text) {
        // A seeding is for a file that exists and has no entries; by the
        // time the lock is held the user may have saved or removed the list.
        if (onlyToAnEmptyFile && (!current.exists || current.entries.getHead() != nullptr))
            return false;
        // Elements added here are not compared with each other: two equal
        // ones are both written, as they were both asked for.
        entries.forEach<String>([&](const String& entry) {
            if (!entry.hasText() || isContained(current.entries, entry.getText()))
                return;
            diagnostic("Not Contained in file, so append '%s'\n", entry.getText());
            text += entry.view();
            text += '\n';
        });
        return true;
    });
}

bool TrustedDomain::isContained(const LinkedList& list, const char* text) const
{
    if (text == nullptr)
        return false;
    const std::string_view wanted(text);
    for (const Iterator* node = list.getHead(); node != nullptr; node = node->getNext()) {
        const auto* element = dynamic_cast<const String*>(node->getElement());
        if (element != nullptr && element->hasText() && element->view() == wanted) {
            diagnostic("isContained matched %s %s\n", element->getText(), text);
            return true;
        }
    }
    return false;
}

void TrustedDomain::dump()
{
    LinkedList entries;
    load(entries);
    dumpEntries("TrustedDomain", entries);
}

} // namespace MAIL
