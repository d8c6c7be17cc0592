// Fuzzes the PDF check: any bytes give a verdict or the not-a-PDF code, and
// the reads stay inside the input.
#include "analysis/protection/PdfEncryptionCheck.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::uint8_t> bytes(data, data + size);
    const MAIL::MemorySource source(bytes);
    try {
        MAIL::PdfEncryptionCheck check(source);
        (void)check.isEncrypted();
    } catch (int code) {
        if (code != MAIL::PdfEncryptionCheck::NotPdf)
            __builtin_trap();
    }
    return 0;
}
