#include "policy/PlainListFile.h"

namespace MAIL {

PlainListFile::PlainListFile(const char* fileName, const char* className) : ListFile(fileName, className) {}

PlainListFile::~PlainListFile() = default;

int PlainListFile::load(LinkedList& list) const
{
    return read([&](std::unique_ptr<String> entry) { list.addLast(std::move(entry)); }).count;
}

int PlainListFile::load(PatternList& list) const
{
    const auto sink = [&](std::unique_ptr<String> entry) { list.add(std::move(entry)); };
    const int own = read(sink).count;
    return own + readOrganisation(sink);
}

void PlainListFile::dump()
{
    LinkedList entries;
    load(entries);
    dumpEntries(className(), entries);
}

} // namespace MAIL
