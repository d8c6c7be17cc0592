// MailHeaderParser: the header block of a mail, read as it arrives.
//
// The owner feeds the received blocks in order with parse(); a block may
// end anywhere (inside a line, between CR and LF, or between a line's CR LF
// and the blank of its continuation): the unfinished line is kept and
// completed by the next block, so any split of the data gives the same
// results. Header lines end at LF (a CR before it and any other CR are
// dropped); a continuation line joins its line without its one leading
// blank. An unfolded line is kept up to MaxLineLength bytes; the rest of it
// is dropped, never read as a new header. The blank line ends the header
// block: isHeaderEnded() turns true, the owner stops feeding, and nothing
// after it is read or kept until reset().
//
// What the rest of the system reads once the header has ended: subject, To
// and Cc (RFC 2047 words decoded; display names holding "," or '"' quoted),
// the content type with the multipart flag and boundary (quoted or bare),
// content-class, and the security state: isIRMProtected (content-class is
// rpmsg.message), isSMIMEEncrypted (the content type names "smime" and its
// smime-type is not signed-data, certs-only or compressed-data) and
// getSecuritySummary. Every text is present, empty when its header did not
// occur; the last occurrence of a header wins. Decoded texts are UTF-8 and
// hold no NUL. One parser per thread; it takes no lock.
#pragma once

#include "analysis/message/MailHeader.h"
#include "foundation/LinkedList.h"
#include "foundation/String.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace MAIL {

class MailHeaderParser {
public:
    static constexpr std::size_t MaxLineLength = 64 * 1024;

    // multipartKind values.
    static constexpr std::int32_t MultipartUnknown = -1;
    static constexpr std::int32_t MultipartMixed = 1;
    static constexpr std::int32_t MultipartAlternative = 2;
    static constexpr std::int32_t MultipartParallel = 3;
    static constexpr std::int32_t MultipartDigest = 4;

    MailHeaderParser();
    MailHeaderParser(const MailHeaderParser&) = delete;
    MailHeaderParser& operator=(const MailHeaderParser&) = delete;

    // Back to the initial state, for the next mail: every result emptied.
    void reset();

    // Reads the header lines of one received block (up to its first NUL).
    void parse(const char* text);
    // The same for a block of bytes; NUL bytes are dropped. Returns how many
    // bytes of the block belonged to the header block (all of them until
    // the blank line; 0 once the header has ended).
    std::size_t parse(std::string_view block);

    // True once the blank line ending the header block has been read.
    bool isHeaderEnded() const { return state_ == State::Ended; }

    const String& getTo() const { return to_; }
    const String& getCc() const { return cc_; }
    const String& getSubject() const { return subject_; }
    const String& getContentType() const { return contentType_; }
    const String& getBoundary() const { return boundary_; }
    const String& getContentClass() const { return contentClass_; }
    const String& getContentTransferEncoding() const { return contentTransferEncoding_; }
    const String& getContentDescription() const { return contentDescription_; }
    const String& getContentDisposition() const { return contentDisposition_; }
    bool isMultipart() const { return multipart_; }
    std::int32_t getMultipartKind() const { return multipartKind_; }
    // Every header line, in order.
    const MailHeaders& getHeaders() const { return headers_; }
    MailHeaders& getHeaders() { return headers_; }
    // The header part of each block fed, in order of arrival.
    const LinkedList& getTexts() const { return texts_; }

    // content-class is "rpmsg.message" (whole value, without regard to case).
    bool isIRMProtected() const;
    // The content type holds "smime" (case-sensitive) and its smime-type
    // parameter is not signed-data, certs-only or compressed-data.
    bool isSMIMEEncrypted() const;
    // Sets out to "IRM protected" or "IRM unprotected", ",", then
    // "S/MIME encrypted" or "S/MIME unencrypted". Returns 2, the number of
    // items.
    int getSecuritySummary(String& out) const;

    // Encoded words decoded, as for header values (EncodedWords.h).
    std::unique_ptr<char[]> decodeWords(const char* text) const;

private:
    enum class State { LineStart, InLine, AfterLineBreak, Ended };

    void finishLine();
    void record(std::string_view name, std::string_view rawValue);
    void analyseContentType(std::string_view rawValue);

    MailHeaders headers_;
    LinkedList texts_;
    State state_ = State::LineStart;
    std::string line_;       // the unfolded line being read
    bool lineCut_ = false;   // line_ reached MaxLineLength
    String to_{""}, cc_{""}, subject_{""}, contentType_{""};
    std::string rawContentType_;
    bool multipart_ = false;
    String boundary_{""};
    std::int32_t multipartKind_ = MultipartUnknown;
    String contentClass_{""};
    String contentTransferEncoding_{""}, contentDescription_{""}, contentDisposition_{""};
};

} // namespace MAIL
