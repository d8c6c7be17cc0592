#include "relay/TlsTransport.h"

#include "relay/RelayError.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace MAIL {

namespace {

using Clock = std::chrono::steady_clock;

struct ContextFree {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

Clock::time_point deadlineAfter(int milliseconds)
{
    if (milliseconds < 0)
        return Clock::time_point::max();
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

// Waits for what OpenSSL asked for (readable or writable); false when the
// deadline passed or the wait failed.
bool waitFor(int fd, int sslError, Clock::time_point deadline)
{
    const short events = sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN;
    for (;;) {
        int wait = -1;
        if (deadline != Clock::time_point::max()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            wait = static_cast<int>(left);
        }
        pollfd entry{fd, events, 0};
        const int rc = ::poll(&entry, 1, wait);
        if (rc > 0)
            return true;  // an error or hang-up shows in the next OpenSSL call
        if (rc < 0 && errno != EINTR)
            return false;
    }
}

// OpenSSL's reason for the failure that just happened, for the log.
std::string failureReason(int sslError)
{
    const unsigned long first = ERR_peek_error();
    if (first != 0) {
        char text[256];
        ERR_error_string_n(first, text, sizeof text);
        ERR_clear_error();
        return text;
    }
    if (sslError == SSL_ERROR_SYSCALL)
        return errno != 0 ? std::string("system error: ") + std::strerror(errno) : "unexpected end of stream";
    return "TLS error " + std::to_string(sslError);
}

// OpenSSL writes with write(2): a peer that has gone must be a failed send,
// never a SIGPIPE that ends the process. The program ignores the signal
// from its start; so does every other process that makes a TLS connection.
void ignorePipeSignal()
{
    static const bool ignored = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    (void)ignored;
}

bool isIpLiteral(const std::string& host)
{
    unsigned char address[16];
    return ::inet_pton(AF_INET, host.c_str(), address) == 1 || ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::string nameLine(const X509_NAME* name)
{
    if (name == nullptr)
        return {};
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253) < 0)
        return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

} // namespace

struct TlsTransport::State {
    std::unique_ptr<SSL_CTX, ContextFree> context;
    std::unique_ptr<SSL, SslFree> ssl;
    bool verify = true;
};

TlsTransport::TlsTransport(Socket& socket, std::unique_ptr<State> state)
    : socket_(socket), state_(std::move(state))
{
}

TlsTransport::~TlsTransport() = default;

std::unique_ptr<TlsTransport> TlsTransport::start(Socket& socket, const std::string& host, const TlsOptions& options,
                                                  int milliseconds, int& code, std::string& reason)
{
    ignorePipeSignal();
    const auto deadline = deadlineAfter(milliseconds);
    const int fd = socket.getHandle();
    code = ERR_TLS_HANDSHAKE;
    ERR_clear_error();
    auto state = std::make_unique<State>();
    state->verify = options.verify;
    state->context.reset(SSL_CTX_new(TLS_client_method()));
    if (!state->context || fd < 0) {
        reason = fd < 0 ? "no connection" : failureReason(SSL_ERROR_SSL);
        return nullptr;
    }
    SSL_CTX* context = state->context.get();
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // Partial writes let sendAll() count what went out record by record.
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_default_verify_paths(context);
    // A CA file that is named must be usable, even with verification off:
    // a broken setting is never quietly ignored.
    if (!options.caFile.empty() && SSL_CTX_load_verify_locations(context, options.caFile.c_str(), nullptr) != 1) {
        code = ERR_TLS_CA_FILE;
        reason = options.caFile + ": " + failureReason(SSL_ERROR_SSL);
        return nullptr;
    }
    SSL_CTX_set_verify(context, options.verify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);

    state->ssl.reset(SSL_new(context));
    SSL* ssl = state->ssl.get();
    if (ssl == nullptr || SSL_set_fd(ssl, fd) != 1) {
        reason = failureReason(SSL_ERROR_SSL);
        return nullptr;
    }
    if (isIpLiteral(host)) {
        // No SNI for an address; it must be one of the certificate's IP names.
        if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) != 1) {
            reason = "cannot check the address " + host;
            return nullptr;
        }
    } else {
        SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (SSL_set_tlsext_host_name(ssl, host.c_str()) != 1 || SSL_set1_host(ssl, host.c_str()) != 1) {
            reason = "cannot check the name " + host;
            return nullptr;
        }
    }
    // Non-blocking from here on: every wait is our poll, within our limits.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

    for (;;) {
        ERR_clear_error();
        errno = 0;
        const int rc = SSL_connect(ssl);
        if (rc == 1)
            break;
        const int sslError = SSL_get_error(ssl, rc);
        if (sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE) {
            if (!waitFor(fd, sslError, deadline)) {
                reason = "no answer to the TLS handshake in time";
                return nullptr;
            }
            continue;
        }
        const long verified = SSL_get_verify_result(ssl);
        if (options.verify && verified != X509_V_OK) {
            const bool name = verified == X509_V_ERR_HOSTNAME_MISMATCH || verified == X509_V_ERR_IP_ADDRESS_MISMATCH;
            code = name ? ERR_TLS_NAME_MISMATCH : ERR_TLS_UNTRUSTED;
            reason = X509_verify_cert_error_string(verified);
            ERR_clear_error();
        } else {
            reason = failureReason(sslError);
        }
        return nullptr;
    }
    if (options.verify &&
        (SSL_get0_peer_certificate(ssl) == nullptr || SSL_get_verify_result(ssl) != X509_V_OK)) {
        code = ERR_TLS_UNTRUSTED;
        reason = "the server showed no trusted certificate";
        return nullptr;
    }
    code = 0;
    reason.clear();
    return std::unique_ptr<TlsTransport>(new TlsTransport(socket, std::move(state)));
}

ssize_t TlsTransport::receive(char* buffer, std::size_t size, int milliseconds)
{
    timedOut_ = false;
    if (closed_ || buffer == nullptr || size == 0)
        return -1;
    SSL* ssl = state_->ssl.get();
    const auto deadline = deadlineAfter(milliseconds);
    for (;;) {
        // SSL_read before any poll: bytes OpenSSL already holds (SSL_pending)
        // are invisible to poll and must never wait on it.
        ERR_clear_error();
        errno = 0;
        std::size_t got = 0;
        const int rc = SSL_read_ex(ssl, buffer, size, &got);
        if (rc == 1)
            return static_cast<ssize_t>(got);
        const int sslError = SSL_get_error(ssl, rc);
        if (sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE) {
            if (!waitFor(socket_.getHandle(), sslError, deadline)) {
                timedOut_ = true;
                return -1;
            }
            continue;
        }
        if (sslError == SSL_ERROR_ZERO_RETURN)
            return 0;  // close_notify: an orderly end
        // Includes an end of stream without close_notify: the data may have
        // been cut off by someone else, so it is a failure.
        lastError_ = failureReason(sslError);
        return -1;
    }
}

ssize_t TlsTransport::sendAll(const char* data, std::size_t length, int seconds)
{
    timedOut_ = false;
    if (closed_)
        return -1;
    SSL* ssl = state_->ssl.get();
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    std::size_t sent = 0;
    while (sent < length) {
        ERR_clear_error();
        errno = 0;
        std::size_t written = 0;
        // After a WANT_* the same bytes are offered again, as OpenSSL needs.
        const int rc = SSL_write_ex(ssl, data + sent, length - sent, &written);
        if (rc == 1) {
            sent += written;
            continue;
        }
        const int sslError = SSL_get_error(ssl, rc);
        if (sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE) {
            if (!waitFor(socket_.getHandle(), sslError, deadline)) {
                timedOut_ = true;
                return -2;
            }
            continue;
        }
        lastError_ = failureReason(sslError);
        return -2;
    }
    return static_cast<ssize_t>(sent);
}

void TlsTransport::close(int milliseconds)
{
    if (closed_)
        return;
    closed_ = true;
    SSL* ssl = state_->ssl.get();
    const auto deadline = deadlineAfter(milliseconds);
    for (;;) {
        ERR_clear_error();
        const int rc = SSL_shutdown(ssl);
        if (rc >= 0)
            return;  // our close_notify is out; the peer's is not awaited
        const int sslError = SSL_get_error(ssl, rc);
        if (sslError != SSL_ERROR_WANT_WRITE || !waitFor(socket_.getHandle(), sslError, deadline)) {
            ERR_clear_error();
            return;
        }
    }
}

TlsPeerInfo TlsTransport::peer() const
{
    TlsPeerInfo info;
    const SSL* ssl = state_->ssl.get();
    info.protocol = SSL_get_version(ssl);
    if (const X509* certificate = SSL_get0_peer_certificate(ssl)) {
        info.subject = nameLine(X509_get_subject_name(certificate));
        info.issuer = nameLine(X509_get_issuer_name(certificate));
    }
    info.verified = state_->verify && SSL_get_verify_result(ssl) == X509_V_OK;
    return info;
}

} // namespace MAIL
