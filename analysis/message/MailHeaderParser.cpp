#include "analysis/message/MailHeaderParser.h"

#include "analysis/message/EncodedWords.h"
#include "analysis/message/HeaderFields.h"
#include "config/LogWriter.h"

#include <cstring>

namespace MAIL {

MailHeaderParser::MailHeaderParser() = default;

void MailHeaderParser::reset()
{
    headers_.clear();
    texts_.clear();
    state_ = State::LineStart;
    line_.clear();
    line_.shrink_to_fit();
    lineCut_ = false;
    to_ = cc_ = subject_ = contentType_ = boundary_ = contentClass_ = String("");
    contentTransferEncoding_ = contentDescription_ = contentDisposition_ = String("");
    rawContentType_.clear();
    multipart_ = false;
    multipartKind_ = MultipartUnknown;
}

void MailHeaderParser::parse(const char* text)
{
    if (text != nullptr)
        parse(std::string_view(text));
}

std::size_t MailHeaderParser::parse(std::string_view block)
{
    if (state_ == State::Ended) {
        trace(getLogWriter(), "MailHeaderParser#parse,1,Already end of Header");
        return 0;
    }
    trace(getLogWriter(), "MailHeaderParser#parse,1,headers=[%.*s]", static_cast<int>(block.size()), block.data());
    std::size_t used = 0;
    while (used < block.size() && state_ != State::Ended) {
        const char c = block[used++];
        if (c == '\0' || c == '\r')
            continue;  // lines end at LF; CRs and NULs are never part of a value
        switch (state_) {
        case State::AfterLineBreak:
            if (c == ' ' || c == '\t') {
                state_ = State::InLine;  // a continuation: its one blank goes
                break;
            }
            finishLine();
            [[fallthrough]];
        case State::LineStart:
            if (c == '\n') {
                state_ = State::Ended;  // the blank line
                break;
            }
            line_.clear();
            lineCut_ = false;
            state_ = State::InLine;
            [[fallthrough]];
        case State::InLine:
            if (c == '\n') {
                // Complete only once the next byte shows it is not continued.
                state_ = State::AfterLineBreak;
            } else if (line_.size() < MaxLineLength) {
                line_ += c;
            } else {
                lineCut_ = true;
            }
            break;
        case State::Ended:
            break;
        }
    }
    texts_.addLast(std::make_unique<String>(block.substr(0, used)));
    return used;
}

void MailHeaderParser::finishLine()
{
    const std::string_view line = line_;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        trace(getLogWriter(), "MailHeaderParser#parse,1,No separator ':'");
    } else {
        std::string_view value = line.substr(colon + 1);
        if (!value.empty() && value.front() == ' ')
            value.remove_prefix(1);
        record(line.substr(0, colon), value);
    }
    line_.clear();
    lineCut_ = false;
}

void MailHeaderParser::record(std::string_view name, std::string_view rawValue)
{
    const std::string nameText(name);
    const std::string rawText(rawValue);
    trace(getLogWriter(), "MailHeaderParser#parse,1,Parsed [%s]:[%s]\n", nameText.c_str(), rawText.c_str());
    const bool addressList = equalsIgnoreCase(name, "To") || equalsIgnoreCase(name, "Cc");
    const std::string decoded = addressList ? decodeAddressList(rawValue) : MAIL::decodeWords(rawValue);
    const String value(decoded.c_str());
    if (equalsIgnoreCase(name, "Subject")) {
        subject_ = value;
    } else if (equalsIgnoreCase(name, "Content-Type")) {
        contentType_ = value;
        analyseContentType(rawValue);
    } else if (equalsIgnoreCase(name, "To")) {
        to_ = value;
    } else if (equalsIgnoreCase(name, "Cc")) {
        cc_ = value;
    } else if (equalsIgnoreCase(name, "content-class")) {
        contentClass_ = value;
    } else if (equalsIgnoreCase(name, "Content-Transfer-Encoding")) {
        contentTransferEncoding_ = value;
    } else if (equalsIgnoreCase(name, "Content-Description")) {
        contentDescription_ = value;
    } else if (equalsIgnoreCase(name, "Content-Disposition")) {
        contentDisposition_ = value;
    }
    headers_.addLast(std::make_unique<MailHeader>(nameText.c_str(), decoded.c_str()));
}

void MailHeaderParser::analyseContentType(std::string_view rawValue)
{
    rawContentType_ = rawValue;
    // Media types are case-insensitive (RFC 2045): "Multipart/Mixed" is
    // multipart too.
    const std::string type = leadingToken(rawValue);
    if (!type.starts_with("multipart/")) {
        multipart_ = false;
        return;
    }
    multipart_ = true;
    const std::string_view subtype = std::string_view(type).substr(std::strlen("multipart/"));
    if (subtype == "mixed")
        multipartKind_ = MultipartMixed;
    else if (subtype == "alternative")
        multipartKind_ = MultipartAlternative;
    else if (subtype == "parallel")
        multipartKind_ = MultipartParallel;
    else if (subtype == "digest")
        multipartKind_ = MultipartDigest;
    bool quoted = false;
    if (auto boundary = findParameter(rawValue, "boundary", &quoted)) {
        // A bare boundary ends at a blank (RFC 2046 allows blanks only
        // inside quotes).
        if (!quoted)
            boundary->resize(boundary->find_first_of(" \t") == std::string::npos ? boundary->size()
                                                                                 : boundary->find_first_of(" \t"));
        std::erase(*boundary, '\0');
        boundary_ = String(boundary->c_str());
    }
}

bool MailHeaderParser::isIRMProtected() const { return equalsIgnoreCase(contentClass_.view(), "rpmsg.message"); }

bool MailHeaderParser::isSMIMEEncrypted() const
{
    if (contentType_.view().find("smime") == std::string_view::npos)
        return false;
    // Signed, certificate-only and compressed S/MIME can be read by anyone.
    const std::string kind = leadingToken(findParameter(rawContentType_, "smime-type").value_or(""));
    return kind != "signed-data" && kind != "certs-only" && kind != "compressed-data";
}

int MailHeaderParser::getSecuritySummary(String& out) const
{
    std::string summary = isIRMProtected() ? "IRM protected" : "IRM unprotected";
    summary += ",";
    summary += isSMIMEEncrypted() ? "S/MIME encrypted" : "S/MIME unencrypted";
    out = String(summary.c_str());
    return 2;
}

std::unique_ptr<char[]> MailHeaderParser::decodeWords(const char* text) const { return MAIL::decodeWords(text); }

} // namespace MAIL
