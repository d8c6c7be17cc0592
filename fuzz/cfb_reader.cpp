// Fuzzes the compound-file reader and the Office checks that use it. Any
// bytes must end in an answer: no crash, no hang, no allocation beyond the
// input's size. Every storage reachable from the root is listed and the
// start of every stream read.
#include "analysis/protection/CompoundFile.h"
#include "analysis/protection/DataSpacesCheck.h"
#include "analysis/protection/OfficeEncryptionCheck.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const MAIL::MemorySource source({data, size});
    MAIL::CompoundFile file;
    MAIL::CompoundFile::Entry root;
    if (file.open(source) == MAIL::CompoundFile::Status::Ok && file.root(root) == MAIL::CompoundFile::Status::Ok) {
        // A storage may appear inside another more than once; the number of
        // storages listed and streams read is bounded here, not by the
        // reader, whose every call is linear in the file.
        std::vector<MAIL::CompoundFile::Entry> pending{root};
        int streams = 0;
        for (int listed = 0; !pending.empty() && listed < 64; ++listed) {
            const MAIL::CompoundFile::Entry storage = pending.back();
            pending.pop_back();
            std::vector<MAIL::CompoundFile::Entry> children;
            if (file.children(storage, children) != MAIL::CompoundFile::Status::Ok)
                continue;
            for (const auto& child : children) {
                if (child.isStorage()) {
                    pending.push_back(child);
                } else if (++streams <= 256) {
                    std::vector<std::uint8_t> bytes;
                    if (file.readStart(child, 8192, bytes) == MAIL::CompoundFile::Status::Ok && bytes.size() > child.size)
                        __builtin_trap();
                }
            }
        }
    }
    for (const char* name : {"a.doc", "a.xls", "a.ppt", "a.docx", "a.xps"}) {
        MAIL::DataSpacesCheck().check(source, name);
        MAIL::OfficeEncryptionCheck().check(source, name);
    }
    return 0;
}
