// Forwarding a judged mail to the server, and cancelling it.
//
// Forwarding opens the spool file before it says DATA, checks every send
// and every read, and stops at the first failure: the server connection is
// then closed before the end mark, so no server ever receives a mail with a
// hole in it, and the client hears that its mail was not sent. The client
// gets the server's own reply to the data, never a 250 of ours. The record
// of decisions says "sent" only for a 2xx to the end of the data, and only
// such a mail teaches the history of sent recipients.
#include "relay/SMTPCommunicator.h"

#include "config/LogWriter.h"
#include "foundation/FileDescriptor.h"
#include "policy/SentRecipients.h"
#include "relay/Notifications.h"
#include "relay/RelayError.h"
#include "relay/SessionText.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace MAIL;

namespace {

constexpr std::size_t StreamChunk = 131072;

// A read-only mapping of a whole spool file; no mapping (data() null) for
// an empty file or when the system refuses one.
class SpoolMapping {
public:
    SpoolMapping(int fd, long long size)
    {
        if (size <= 0)
            return;
        void* address = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (address == MAP_FAILED)
            return;
        data_ = static_cast<const char*>(address);
        size_ = static_cast<std::size_t>(size);
        ::madvise(address, size_, MADV_SEQUENTIAL);
    }
    ~SpoolMapping()
    {
        if (data_ != nullptr)
            ::munmap(const_cast<char*>(data_), size_);
    }
    SpoolMapping(const SpoolMapping&) = delete;
    SpoolMapping& operator=(const SpoolMapping&) = delete;

    const char* data() const { return data_; }

private:
    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

// The last line of a server reply, without its line end.
std::string lastReplyLine(std::string_view reply)
{
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
        reply.remove_suffix(1);
    const std::size_t start = reply.rfind('\n');
    return std::string(start == std::string_view::npos ? reply : reply.substr(start + 1));
}

} // namespace

void SMTPCommunicator::lostServer(const std::string& subject)
{
    record_.decision = MailOutcome::Failed;
    closeServer();
    showErrorBalloon(subjectNotice("Failed to send a mail:", balloonSubject(subject, 210)));
    sendToClient(ProxyReply::LostServerWhileSending);
    setStage(Stage::Closing);
}

int SMTPCommunicator::sendData(const std::string& subject)
{
    LogWriter* log = getLogWriter();
    const Raised forwarding(forwarding_);

    // The file first: a mail that cannot be read back is refused before
    // the server is told anything.
    const std::string& path = mail_->spool.getPath();
    debug(log, "SMTPCommunicator#sendData,4,Try to open a local file %s", path.c_str());
    const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    const FileDescriptor closer(fd);
    if (fd < 0) {
        debug(log, "SMTPCommunicator#sendData,5,Failed to open a file %s", path.c_str());
        refuseData(ProxyReply::CannotStore, "Pelorus could not store a mail:", subject);
        return 0;
    }

    debug(log, "SMTPCommunicator#sendData,1,sent=[%s]", "DATA\r\n");
    if (server_->sendAll("DATA\r\n", 6, SendSeconds) != 6) {
        trace(log, "SMTPCommunicator#sendData,2,Failed to send DATA command to SMTP");
        lostServer(subject);
        return 0;
    }
    std::string reply;
    int code = 0;
    if (!serverReplies_.read(reply, code, ReplyMilliseconds)) {
        lostServer(subject);
        return 0;
    }
    if (code != 354) {
        // The server refused the data: the client hears the server's reason.
        trace(log, "SMTPCommunicator#sendData,3,SMTP back error(maybe not acceptable)");
        record_.decision = MailOutcome::Failed;
        showErrorBalloon(subjectNotice("Failed to send a mail:", balloonSubject(subject, 210)));
        sendToClient(reply);
        setStage(Stage::Closing);
        return 0;
    }

    const std::string shownSubject = balloonSubject(subject, 205);
    showTimedBalloon(subjectNotice("Sending a mail:", shownSubject), 10);
    struct stat info{};
    ::fstat(fd, &info);
    const long long size = info.st_size;
    const long long totalKB = size / 1024 + 1;
    long long remaining = size;
    debug(log, "SMTPCommunicator#sendData,6,Opened a file=%s size=%lld", path.c_str(), size);
    auto lastSecond = std::chrono::steady_clock::now();
    // The spool file is sent from a read-only mapping, which spares copying
    // every byte into a buffer first; reading it is the fallback.
    const SpoolMapping mapping(fd, size);
    std::vector<char> chunk(mapping.data() == nullptr ? StreamChunk : 0);
    while (remaining > 0) {
        const char* piece = nullptr;
        ssize_t n = 0;
        if (mapping.data() != nullptr) {
            piece = mapping.data() + (size - remaining);
            n = static_cast<ssize_t>(std::min<long long>(remaining, StreamChunk));
        } else {
            piece = chunk.data();
            n = ::read(fd, chunk.data(), chunk.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
        }
        trace(log, "SMTPCommunicator#sendData,7,sendAll size=%d", static_cast<int>(n));
        if (server_->sendAll(piece, static_cast<std::size_t>(n), SendSeconds) != n) {
            lostServer(subject);
            return 0;
        }
        const long long sentKB = totalKB - remaining / 1024;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastSecond >= std::chrono::seconds(1)) {
            char text[512];
            std::snprintf(text, sizeof text, "Sending a mail:\r\n'%s'\r\n\r\nSent: %d(%%) of Total=%dKB",
                          shownSubject.c_str(), static_cast<int>(sentKB * 100 / totalKB),
                          static_cast<int>(totalKB));
            showTimedBalloon(text, 10);
            lastSecond = now;
        }
        remaining -= n;
    }
    debug(log, "SMTPCommunicator#sendData,8,terminated sendAll,restSize=%lld", remaining);
    debug(log, "SMTPCommunicator#sendData,9,End of file-sending");
    if (remaining != 0 || !serverReplies_.read(reply, code, DataReplyMilliseconds)) {
        lostServer(subject);
        return 0;
    }
    debug(log, "SMTPCommunicator#fromServerToClient,3,recv=[%s]", reply.c_str());
    record_.decision = is2xx(code) ? MailOutcome::Sent : MailOutcome::Failed;
    record_.serverReply = lastReplyLine(reply);
    if (is2xx(code)) {
        // Before the client hears of it: a client that is gone by then
        // does not make the mail unsent. A failure is logged there.
        SentRecipients().remember(mail_->addresses());
    }
    sendToClient(reply);
    if (code == 250)
        showTimedBalloon(subjectNotice("Sent a mail:", balloonSubject(subject, 210)), 3);
    else
        showErrorBalloon(subjectNotice("Failed to send a mail:", balloonSubject(subject, 210)));
    if (code == 421)
        setStage(Stage::Closing);
    return 1;
}

void SMTPCommunicator::reset(const std::string& subject, const char* notice)
{
    LogWriter* log = getLogWriter();
    debug(log, "SMTPCommunicator#reset,1,Cancel to send a commnd [%s]", "RSET\r\n");
    // A client that has gone (it may have hung up on a held mail) changes
    // nothing: the server still forgets the mail.
    tellClient(proxyReply(ProxyReply::Cancelled));
    try {
        sendToServer("RSET\r\n");
        const int code = fromServer();
        if (code == 250)
            showWarningBalloon(subjectNotice(notice, balloonSubject(subject, 210)));
        else
            showErrorBalloon(subjectNotice("Failed to cancel to send a mail:", balloonSubject(subject, 210)));
        sendToServer("QUIT\r\n");
        debug(log, "SMTPCommunicator#reset,3,send=[%s]", "QUIT\r\n");
        std::string reply;
        const int quit = readReply(reply, ReplyMilliseconds);
        tellClient(reply);
        if (quit != SESSION_END) {
            error(log, "SMTPCommunicator#reset,4,QUIT error=[%d]", quit);
            serverFailed(quit);
        }
    } catch (const RelayFailure& failure) {
        debug(log, "SMTPCommunicator#reset,2,An exception happened");
        char text[512];
        std::snprintf(text, sizeof text, "Reset error(%d):\r\n'%s'", failure.code(),
                      balloonSubject(subject, 210).c_str());
        showErrorBalloon(text);
    }
    setStage(Stage::Closing);
    mail_->spool.remove();
    if (serverTls_)
        serverTls_->close(CloseNotifyMilliseconds);  // after the QUIT, inside TLS
    closeConnections();
    debug(log, "SMTPCommunicator#reset,3,end");
}
