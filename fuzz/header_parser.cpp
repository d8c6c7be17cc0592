// Fuzzes the header parser: any bytes, fed in any blocks, give the same
// results as the same bytes in one block, without a crash or overrun.
#include "analysis/message/MailHeaderParser.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

std::string results(const MAIL::MailHeaderParser& parser)
{
    std::string out;
    parser.getHeaders().forEach<MAIL::MailHeader>([&](const MAIL::MailHeader& header) {
        out.append(header.getName().view()).append(1, '\0').append(header.getValue().view()).append(1, '\0');
    });
    MAIL::String summary;
    parser.getSecuritySummary(summary);
    for (const MAIL::String* text : {&parser.getTo(), &parser.getCc(), &parser.getSubject(),
                                     &parser.getContentType(), &parser.getBoundary(), static_cast<const MAIL::String*>(&summary)})
        out.append(text->view()).append(1, '\0');
    out += std::to_string(parser.isMultipart()) + std::to_string(parser.getMultipartKind()) +
           std::to_string(parser.isHeaderEnded());
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the block size of the second feeding.
    const std::size_t blockSize = 1 + data[0] % 64;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    MAIL::MailHeaderParser whole;
    whole.parse(text);
    MAIL::MailHeaderParser pieces;
    for (std::size_t at = 0; at < text.size(); at += blockSize)
        pieces.parse(text.substr(at, blockSize));
    if (results(whole) != results(pieces))
        __builtin_trap();
    return 0;
}
