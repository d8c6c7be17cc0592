#include "analysis/message/AttachmentWalk.h"

#include "analysis/message/AttachmentFileName.h"
#include "analysis/message/HeaderFields.h"
#include "analysis/message/MIMEFile.h"
#include "analysis/message/SpoolLineReader.h"
#include "config/LogWriter.h"

#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

// An unfolded part header line is kept up to this size; the rest is dropped.
constexpr std::size_t MaxHeaderLine = 64 * 1024;
// Tries at " (2)", " (3)", ... before a record is left without a file.
constexpr int MaxNameAttempts = 1000;

std::string_view withoutTrailingBlanks(std::string_view line)
{
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    return line;
}

void appendCapped(std::string& line, std::string_view text)
{
    if (line.size() < MaxHeaderLine)
        line.append(text.substr(0, MaxHeaderLine - line.size()));
}

} // namespace

AttachmentWalk::AttachmentWalk(MAIL::LinkedList& list, MAIL::ProtectionChecker& checker, int folderFd,
                               std::string folder, std::string boundary, int maxDepth)
    : list_(list), checker_(checker), folderFd_(folderFd), folder_(std::move(folder)), maxDepth_(maxDepth)
{
    pushLevel(boundary);
}

void AttachmentWalk::pushLevel(std::string_view boundary)
{
    Level level;
    level.boundaryLine = "--" + std::string(boundary);
    level.closingLine = level.boundaryLine + "--";
    levels_.push_back(std::move(level));
}

int AttachmentWalk::run(int spoolFd)
{
    SpoolLineReader reader(spoolFd);
    SpoolLineReader::Piece piece;
    while (where_ != Where::Done && reader.next(piece)) {
        if (piece.lineStart && piece.lineEnd && piece.text.starts_with("--") && takeDelimiter(piece.text))
            continue;
        switch (where_) {
        case Where::PartHeaders:
            headerPiece(piece.text, piece.lineStart, piece.lineEnd);
            break;
        case Where::PartBody:
            if (current_ != nullptr)
                body_.feed(piece.text, piece.lineStart, piece.lineEnd);
            break;
        case Where::Outside:
        case Where::Done:
            break;
        }
    }
    // The file ended without its closing line: what is open is finished
    // like any other part.
    if (where_ == Where::PartHeaders) {
        finishHeaderLine();
        endOfPartHeaders();
    }
    finishRecord();
    return records_;
}

bool AttachmentWalk::takeDelimiter(std::string_view line)
{
    line = withoutTrailingBlanks(line);
    // Innermost first: a nested level may reuse an outer level's boundary.
    for (std::size_t i = levels_.size(); i-- > 0;) {
        const Level& level = levels_[i];
        if (line == level.boundaryLine) {
            finishRecord();
            levels_.resize(i + 1);
            MAIL::debug(MAIL::getLogWriter(), "AttachedFiles#parse,2,Found boundary=[%s] line=%d blen=%d\n",
                        level.boundaryLine.c_str(), static_cast<int>(line.size()),
                        static_cast<int>(level.boundaryLine.size()));
            where_ = Where::PartHeaders;
            headerLine_.clear();
            contentType_.clear();
            contentDisposition_.clear();
            transferEncoding_.clear();
            return true;
        }
        if (line == level.closingLine) {
            finishRecord();
            levels_.resize(i);
            if (levels_.empty()) {
                // The folder is emptied by now; clear() would remove it too.
                if (hadRecord_ && folderFd_ >= 0)
                    ::rmdir(folder_.c_str());
                where_ = Where::Done;
            } else {
                where_ = Where::Outside;  // the rest of the enclosing part
            }
            return true;
        }
    }
    return false;
}

void AttachmentWalk::headerPiece(std::string_view piece, bool lineStart, bool lineEnd)
{
    if (lineStart && lineEnd && piece.empty()) {
        finishHeaderLine();
        endOfPartHeaders();
        return;
    }
    if (lineStart && !piece.empty() && (piece.front() == ' ' || piece.front() == '\t')) {
        // A continuation joins its line without its one leading blank.
        if (MAIL::startsWithIgnoreCase(headerLine_, "Content-Type:"))
            MAIL::debug(MAIL::getLogWriter(), "AttachedFile#parse,5,name=%.*s", static_cast<int>(piece.size() - 1),
                        piece.data() + 1);
        appendCapped(headerLine_, piece.substr(1));
        return;
    }
    if (lineStart)
        finishHeaderLine();
    appendCapped(headerLine_, piece);
}

void AttachmentWalk::finishHeaderLine()
{
    const std::string_view line = headerLine_;
    const auto valueOf = [&](std::string_view name) { return line.substr(name.size()); };
    if (MAIL::startsWithIgnoreCase(line, "Content-Type:")) {
        MAIL::LogWriter* log = MAIL::getLogWriter();
        MAIL::debug(log, "AttachedFile#parse,3,Content-Type line =%s", headerLine_.c_str());
        MAIL::debug(log, "AttachedFile#parse,4,Inboundary ,Content-Type line =%s", headerLine_.c_str());
        contentType_ = valueOf("Content-Type:");
    } else if (MAIL::startsWithIgnoreCase(line, "Content-Disposition:")) {
        contentDisposition_ = valueOf("Content-Disposition:");
    } else if (MAIL::startsWithIgnoreCase(line, "Content-Transfer-Encoding:")) {
        transferEncoding_ = valueOf("Content-Transfer-Encoding:");
    }
    headerLine_.clear();
}

void AttachmentWalk::endOfPartHeaders()
{
    where_ = Where::PartBody;
    if (MAIL::leadingToken(contentType_).starts_with("multipart/")) {
        bool quoted = false;
        std::string boundary = MAIL::findParameter(contentType_, "boundary", &quoted).value_or("");
        if (!quoted)
            boundary.resize(std::min(boundary.size(), boundary.find_first_of(" \t")));
        if (!boundary.empty() && static_cast<int>(levels_.size()) < maxDepth_) {
            pushLevel(boundary);
            where_ = Where::Outside;  // the nested preamble
            return;
        }
    }
    // A part with a file name is a file, whatever its disposition says or
    // whether the mail has one at all: mail clients show it as attached.
    // Body text carries no name.
    std::optional<std::string> name = MAIL::parameterText(contentType_, "name");
    if (!name || MAIL::trimBlanks(*name).empty())
        name = MAIL::parameterText(contentDisposition_, "filename");
    if (name && !MAIL::trimBlanks(*name).empty()) {
        MAIL::debug(MAIL::getLogWriter(), "AttachedFile#parse,1,name=%s", name->c_str());
        startRecord(*name);
    }
}

void AttachmentWalk::startRecord(const std::string& name)
{
    MAIL::LogWriter* log = MAIL::getLogWriter();
    MAIL::debug(log, "AttachedFile#parse,1,file=[%s]", name.c_str());
    MAIL::debug(log, "AttachedFile#parse,2,file=[%s]", name.c_str());
    auto record = std::make_unique<MIMEFile>(name.c_str());
    MIMEFile* file = record.get();
    list_.addLast(std::move(record));
    ++records_;
    hadRecord_ = true;
    current_ = file;
    currentFileName_.clear();
    if (folderFd_ >= 0) {
        const AttachmentFileName fileName(name);
        for (int attempt = 1; attempt <= MaxNameAttempts; ++attempt) {
            const auto candidate = fileName.candidate(attempt, folder_.size());
            if (!candidate)
                break;
            const std::string path = folder_ + "/" + *candidate;
            if (file->openIn(folderFd_, candidate->c_str(), path.c_str())) {
                currentFileName_ = *candidate;
                break;
            }
            if (errno != EEXIST)
                break;
        }
    }
    body_.start(file, BodyWriter::encodingFor(transferEncoding_));
}

void AttachmentWalk::finishRecord()
{
    if (current_ == nullptr)
        return;
    body_.finish();
    current_->close();
    if (!currentFileName_.empty()) {
        MAIL::ProtectionKind kind = MAIL::ProtectionNone;
        current_->setProtected(checker_.check(current_->getPath(), kind));
        current_->setProtectionKind(kind);
        ::unlinkat(folderFd_, currentFileName_.c_str(), 0);
    }
    current_ = nullptr;
    currentFileName_.clear();
}
