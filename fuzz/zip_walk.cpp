// Fuzzes the ZIP walk: any bytes give counts that add up, in time linear in
// the input, without reading outside it.
#include "analysis/protection/ZipEncryptionCheck.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A copy of exactly the input's size, so that reading one byte past it
    // is caught.
    const std::vector<std::uint8_t> archive(data, data + size);
    MAIL::ZipEncryptionCheck zip;
    zip.view(archive);
    const int files = zip.walk();
    if (files != zip.getEncryptedEntries() + zip.getUnencryptedEntries() ||
        zip.isAllEncrypted() != (files > 0 && zip.getUnencryptedEntries() == 0))
        __builtin_trap();
    zip.release();
    return 0;
}
