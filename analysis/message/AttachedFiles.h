// AttachedFiles: the attachments of a spooled multipart mail, each judged.
//
// Built from the spool file's path and the mail's boundary (from
// MailHeaderParser::getBoundary). The attachment folder "<spool path>_attached"
// is created beside the spool file (0700). parse() walks the spool file
// once and appends one MIMEFile per attachment, in mail order, to the list
// it is given: each attachment is decoded into a file of its own in the
// folder (created new, 0600, never through a link, under a name made safe
// by AttachmentFileName), judged by MAIL::ProtectionChecker when its part
// ends, and deleted again; the record keeps the decoded name and the
// verdict. clear() empties and removes the folder; the destructor clears
// too. The caller owns the list and its records.
//
// The session's use, in order: construct, parse(list), clear() before the
// dialog is shown, hand the records to the dialog, destroy.
//
// How parts are read (see AttachmentWalk.h): part by part, as real clients
// write them. A part is an attachment when it has a name of its own
// (Content-Type "name", or Content-Disposition "filename"; quoted or bare,
// RFC 2047 words or RFC 2231 continuations), also when the mail has no
// Content-Disposition at all; body text has no name. Nested multiparts
// (alternative, related, signed) are walked up to MaxDepth levels.
#pragma once

#include "analysis/protection/ProtectionChecker.h"
#include "foundation/LinkedList.h"

#include <memory>
#include <string>

class AttachedFiles : public MAIL::Object {
public:
    static constexpr int MaxDepth = 8;

    // spoolPath: the spooled mail; boundary: the mail's multipart boundary
    // (null or empty: not multipart, parse finds nothing).
    AttachedFiles(const char* spoolPath, const char* boundary);
    AttachedFiles(const AttachedFiles&) = delete;
    AttachedFiles& operator=(const AttachedFiles&) = delete;
    ~AttachedFiles() override;

    // Appends one new MIMEFile per attachment to list. False, without
    // reading, when there is no boundary or the spool file cannot be read.
    bool parse(MAIL::LinkedList& list);

    // Deletes the files in the attachment folder and the folder itself.
    // A folder that cannot be opened is left alone.
    void clear();

    // Encoded words decoded, as for attachment names (EncodedWords.h).
    std::unique_ptr<char[]> decodeWords(const char* text) const;

    const std::string& getSpoolPath() const { return spoolPath_; }
    const std::string& getBoundaryLine() const { return boundaryLine_; }
    const std::string& getClosingLine() const { return closingLine_; }
    const std::string& getFolder() const { return folder_; }

    void dump() override {}

private:
    std::string spoolPath_;
    std::string boundaryLine_;  // "--" boundary; empty without a boundary
    std::string closingLine_;   // "--" boundary "--"
    std::string folder_;        // spool path + "_attached"
    MAIL::ProtectionChecker checker_;
};
