// SMTPCommunicator: one session, one thread per mail-client connection.
//
// The session connects to the SMTP server and relays the dialogue in
// lockstep, one command and one whole reply at a time, so every reply the
// client sees belongs to its command, also in a pipelined batch. It
// intercepts the envelope (MAIL FROM, RCPT TO: a recipient counts once the
// server accepted it) and DATA, which it answers itself: the data goes to
// a spool file, never to the server unseen. At the end of the data the mail
// is judged; a mail with a recipient who is not fully trusted is shown to
// the user, and forwarded only when the user confirms. A cancelled mail gets
// "450 Pelorus action has been cancelled." and the session ends. With a
// SendDelay set, a decided mail waits that long before it goes, and the user
// can still undo it; the server connection is kept alive meanwhile.
//
// Towards the server the session speaks plain SMTP, STARTTLS or implicit
// TLS as the Security setting read for this connection says. With
// STARTTLS the upgrade is made on the client's first command, before that
// command goes anywhere, so no client command ever crosses in plain text; a
// connection that cannot be secured gets "421 4.7.0 <reason>" and ends.
//
// The client always gets a reply to its data, and never a 250 the server
// did not send. The session owns itself: run() deletes the object at its
// end. Owners that must wait for it keep its ThreadHandle.
//
// The session object holds the connection: sockets, readers, TLS, the
// stage. Everything of one mail lives in its MailTransaction. Failures are
// RelayFailure throws, caught once at the top of run(); every other end of
// a session is the Closing stage.
#pragma once

#include "foundation/Thread.h"
#include "policy/PatternList.h"
#include "relay/ClientReader.h"
#include "relay/DecisionRecord.h"
#include "relay/MailTransaction.h"
#include "relay/ProxyReply.h"
#include "relay/ReplyReader.h"
#include "relay/ServerConnection.h"
#include "relay/ServerKeepAlive.h"
#include "relay/ServerSecurity.h"
#include "relay/Socket.h"
#include "relay/TlsTransport.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class SMTPCommunicator : public MAIL::Thread {
public:
    // Time limits: RFC 5321's for server replies, ours for the rest.
    static constexpr int ConnectMilliseconds = 30 * 1000;
    static constexpr int SendSeconds = 30;
    static constexpr int ReplyMilliseconds = 5 * 60 * 1000;
    static constexpr int DataReplyMilliseconds = 10 * 60 * 1000;
    static constexpr int ClientIdleMilliseconds = 10 * 60 * 1000;
    // How long a close_notify to the server may take at the end.
    static constexpr int CloseNotifyMilliseconds = 2 * 1000;

    // The stages of a session; the numbers are those the log has always
    // shown.
    enum class Stage { Command = 0, Data = 1, Decided = 2, Closing = 3 };

    // Takes the accepted client descriptor. serverConfigured is false while
    // the user has named no server: the placeholder is then never looked up.
    // self is the listener's endpoint, which the session must not connect to.
    // security is how to protect the server connection.
    SMTPCommunicator(int clientHandle, std::string server, std::uint16_t port, bool serverConfigured = true,
                     MAIL::ListenEndpoint self = {}, MAIL::ServerSecurity security = {});
    ~SMTPCommunicator() override;

    void run() override;

    // Starts a new mail: a new transaction with its spool file.
    void initialize(std::string sender = {});
    // Reads one whole server reply without relaying it, returns its code.
    int fromServer();
    // Judges the mail whose data just ended; 2 when it was cancelled.
    int confirm();
    // Forwards the spooled mail; 1 when streamed, 0 when it could not be.
    int sendData(const std::string& subject);
    // Cancels the mail: 450 to the client, RSET and QUIT to the server;
    // notice leads the balloon that says so.
    void reset(const std::string& subject, const char* notice = "Cancelled a mail:");

    // Asks a running session to end (program shut-down): its sockets are
    // shut down unless it is forwarding a confirmed mail, or its mail waits
    // for a confirmation or in its hold (its client still hears the 450).
    // Called by the SessionRegistry under its lock.
    void requestStop();
    bool isForwarding() const { return forwarding_.load(); }

private:
    struct Command;
    static const Command Commands[];
    enum class Decision { Send, Cancel };

    void setStage(Stage next);
    void connectServer();
    // The greeting (after the handshake in "tls" mode), relayed.
    void greet();
    // The STARTTLS upgrade before the client's first command.
    void upgradeServer(const std::string& line);
    // Tells the client the server connection cannot be secured, and ends.
    [[noreturn]] void refuseInsecure(int code, const std::string& detail);
    void commandLoop();
    void handleLine(const std::string& line);
    // Sends the proxy's own refusal of a client line; too many of them end
    // the session.
    void refuseLine(const MAIL::ReplyText& reply);
    void receiveData();
    void progressNotice();

    // Commands (table-driven, see SessionCommands.cpp). False for a line
    // outside the grammar; command null for a verb the table lacks.
    [[nodiscard]] bool readCommand(std::string_view line, const Command*& command, std::string_view& argument,
                                   std::string& shown) const;
    // Sends a pipelined group opened by the line, relays its replies.
    void relayGroup(const std::string& first, const Command& command, std::string_view argument);
    // Actions of the commands the proxy handles itself.
    void handleData(const std::string& line, std::string_view argument);
    void handleBdat(const std::string& line, std::string_view argument);
    // BURL and STARTTLS, refused outright.
    void refuseExtension(const std::string& line, std::string_view argument);
    // What the server's reply to a relayed command means; each hands the
    // reply on (plainAnswered: with the rules for 354, 221 and 421).
    void plainAnswered(const std::string& line, std::string_view argument, const std::string& reply, int code);
    void heloAnswered(const std::string& line, std::string_view argument, const std::string& reply, int code);
    void ehloAnswered(const std::string& line, std::string_view argument, const std::string& reply, int code);
    void mailAnswered(const std::string& line, std::string_view from, const std::string& reply, int code);
    void rcptAnswered(const std::string& line, std::string_view to, const std::string& reply, int code);
    void rsetAnswered(const std::string& line, std::string_view argument, const std::string& reply, int code);
    void authAnswered(const std::string& line, std::string_view argument, const std::string& reply, int code);

    // Sends a command line to the server and reads its whole reply.
    int exchange(const std::string& line, std::string& reply, bool secret);
    // Reads one whole server reply within the limit, logged as relayed.
    int readReply(std::string& reply, int milliseconds);
    void sendToClient(std::string_view text);
    void sendToClient(const MAIL::ReplyText& reply) { sendToClient(MAIL::proxyReply(reply)); }
    // The last words of an ending session, whether or not the client listens.
    void tellClient(std::string_view text);
    void sendToServer(std::string_view text);
    // Closes the server connection (under the registry's socket lock).
    void closeServer();
    // Closes both connections (under the registry's socket lock).
    void closeConnections();

    // The decision and forwarding (SessionDecision.cpp, SessionForwarding.cpp),
    // the wait for the user and the hold (SessionHold.cpp).
    Decision ask(const std::string& subject);
    // The settings one mail is judged and held by, read once for it.
    struct MailSettings {
        bool flagNew = true;           // FlagNewRecipients
        std::int32_t sendDelay = 0;    // SendDelay
        bool holdTrusted = true;       // HoldTrusted
    };
    // Asks when question, holds when the settings say so, then forwards or
    // cancels; the server connection is kept alive while the mail waits.
    Decision settle(const std::string& subject, bool question, const MailSettings& settings);
    Decision hold(const std::string& subject, int seconds, const MAIL::ServerKeepAlive& keepAlive);
    // Whether the client has hung up (looked at without reading from it).
    bool clientHungUp() const;
    void lostWhileWaiting(const std::string& subject);
    void refuseData(const MAIL::ReplyText& reply, const char* notice, const std::string& subject);
    void resetServerQuietly();
    void forgetMail();
    void lostServer(const std::string& subject);

    std::string serverName_;
    std::uint16_t serverPort_;
    bool serverConfigured_;
    MAIL::ListenEndpoint self_;
    MAIL::ServerSecurity security_;

    Stage stage_ = Stage::Command;
    MAIL::PatternList trustedDomains_;
    MAIL::PatternList trustedRecipients_;
    MAIL::PatternList cautionDomains_;
    MAIL::PatternList cautionAttachments_;
    MAIL::Socket serverSocket_;
    MAIL::Socket clientSocket_;
    std::unique_ptr<MAIL::TlsTransport> serverTls_;
    MAIL::Transport* server_ = &serverSocket_;  // the TLS layer once it is up
    MAIL::ReplyReader serverReplies_{serverSocket_};
    bool upgradePending_ = false;
    // The server's last EHLO reply offered PIPELINING.
    bool pipelining_ = false;
    MAIL::ClientReader clientReader_{clientSocket_};
    // The mail under way; none between mails.
    std::unique_ptr<MAIL::MailTransaction> mail_;
    // What became of the mail being judged; written once by confirm().
    MAIL::DecisionRecord record_;
    int mailCounter_ = 0;
    std::chrono::steady_clock::time_point lastProgress_;
    bool authResponsePending_ = false;
    int refusedLines_ = 0;
    // The server connection was closed while the server may have held an
    // envelope of this session.
    bool serverLost_ = false;
    std::atomic<bool> forwarding_{false};
    // The mail waits for a confirmation or in its hold, or its client is
    // being told how that ended.
    std::atomic<bool> waiting_{false};
    // Raises a flag for as long as it lives, whichever way its scope is left.
    struct Raised {
        std::atomic<bool>& flag;
        explicit Raised(std::atomic<bool>& raised) : flag(raised) { flag.store(true); }
        ~Raised() { flag.store(false); }
    };
    std::atomic<bool> stopRequested_{false};
};
