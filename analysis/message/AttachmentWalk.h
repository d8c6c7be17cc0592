// AttachmentWalk: one pass over a spooled mail, turning attachment parts
// into judged MIMEFile records.
//
// The walk sees the spool file as line pieces (SpoolLineReader). It keeps a
// stack of open multipart levels, each with its boundary line and closing
// line (compared after trailing blanks are removed, RFC 2046 padding).
// Lines before the first boundary are skipped. After a boundary line come
// the part's header lines (unfolded; only Content-Type,
// Content-Disposition and Content-Transfer-Encoding matter), and at the
// blank line ending them the part is decided: a multipart part with a
// boundary opens a nested level; a part with a name of its own (Content-Type
// "name" or Content-Disposition "filename"), with or without a disposition,
// gets exactly one record, whose body is then decoded into its file
// (BodyWriter). Any
// boundary or closing line finishes the current record: its file is
// closed, judged and deleted. A boundary line of an outer level also closes
// the levels inside it; a nested closing line ends only its own level; the
// outermost closing line ends the walk. At the end of the file whatever is
// open is finished the same way.
#pragma once

#include "analysis/message/BodyWriter.h"
#include "analysis/protection/ProtectionChecker.h"
#include "foundation/LinkedList.h"

#include <string>
#include <string_view>
#include <vector>

class MIMEFile;

class AttachmentWalk {
public:
    // folderFd: the open attachment folder (or -1: records get no file);
    // folder: its path.
    AttachmentWalk(MAIL::LinkedList& list, MAIL::ProtectionChecker& checker, int folderFd, std::string folder,
                   std::string boundary, int maxDepth);
    AttachmentWalk(const AttachmentWalk&) = delete;
    AttachmentWalk& operator=(const AttachmentWalk&) = delete;

    // Reads the spool file open as fd to its end or to the outermost
    // closing line. Returns the number of records appended.
    int run(int spoolFd);

private:
    enum class Where { Outside, PartHeaders, PartBody, Done };

    struct Level {
        std::string boundaryLine;
        std::string closingLine;
    };

    void pushLevel(std::string_view boundary);
    // True when the line was a boundary or closing line of an open level.
    [[nodiscard]] bool takeDelimiter(std::string_view line);
    void headerPiece(std::string_view piece, bool lineStart, bool lineEnd);
    void finishHeaderLine();
    void endOfPartHeaders();
    void startRecord(const std::string& name);
    void finishRecord();

    MAIL::LinkedList& list_;
    MAIL::ProtectionChecker& checker_;
    int folderFd_;
    std::string folder_;
    int maxDepth_;
    std::vector<Level> levels_;
    Where where_ = Where::Outside;
    bool hadRecord_ = false;
    int records_ = 0;

    // The part being read.
    std::string headerLine_;  // the unfolded header line being read
    std::string contentType_, contentDisposition_, transferEncoding_;

    MIMEFile* current_ = nullptr;
    std::string currentFileName_;
    BodyWriter body_;
};
