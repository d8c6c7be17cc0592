// TlsTransport: TLS over a connected Socket, towards the SMTP server. The
// only module of the program that uses OpenSSL.
//
// start() makes a client context for this one connection (TLS 1.2 or
// newer; the system's trusted certificates and, when given, those of a CA
// file; verification on unless turned off), names the server (a host name is
// sent as SNI and checked by RFC 6125 rules, a wildcard only as the whole
// leftmost label; an IP literal gets no SNI and must match an IP
// subject-alternative name) and completes the handshake within the limit.
// It answers null with a relay code (ERR_TLS_CA_FILE, ERR_TLS_HANDSHAKE,
// ERR_TLS_UNTRUSTED, ERR_TLS_NAME_MISMATCH) and OpenSSL's reason for the log.
//
// After that, receive() and sendAll() keep the Transport results. The
// descriptor is non-blocking from the handshake on; every wait is a poll for
// what OpenSSL asks for (a read may have to write and the other way round),
// within the call's limit. An end of stream without the peer's close_notify
// is a receive failure (-1), so a cut-off reply is never taken as whole; an
// orderly close_notify gives 0. close() sends close_notify; the Socket
// itself stays with its owner, who closes it.
#pragma once

#include "relay/Socket.h"

#include <memory>
#include <string>

namespace MAIL {

struct TlsOptions {
    std::string caFile;  // PEM certificates trusted besides the system's; "" = none
    bool verify = true;  // false accepts any certificate (logged by the caller)
};

// What the connection test shows about an encrypted connection.
struct TlsPeerInfo {
    std::string protocol;  // "TLSv1.3"
    std::string subject;   // one line, RFC 2253 order
    std::string issuer;
    bool verified = false;  // the chain and the name were checked and passed
};

class TlsTransport : public Transport {
public:
    ~TlsTransport() override;
    TlsTransport(const TlsTransport&) = delete;
    TlsTransport& operator=(const TlsTransport&) = delete;

    // The client handshake on the connected socket, towards host (the
    // Server setting as given); null with code and reason on failure.
    static std::unique_ptr<TlsTransport> start(Socket& socket, const std::string& host, const TlsOptions& options,
                                               int milliseconds, int& code, std::string& reason);

    ssize_t receive(char* buffer, std::size_t size, int milliseconds) override;
    ssize_t sendAll(const char* data, std::size_t length, int seconds) override;
    bool timedOut() const override { return timedOut_; }

    // Sends close_notify (waiting at most the limit); further use fails.
    void close(int milliseconds);

    TlsPeerInfo peer() const;
    // OpenSSL's reason for the last failed receive or send, for the log.
    const std::string& lastError() const { return lastError_; }

private:
    struct State;
    explicit TlsTransport(Socket& socket, std::unique_ptr<State> state);

    Socket& socket_;
    std::unique_ptr<State> state_;
    bool timedOut_ = false;
    bool closed_ = false;
    std::string lastError_;
};

} // namespace MAIL
