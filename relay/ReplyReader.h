// ReplyReader: whole SMTP replies from the server.
//
// A reply is every "NNN-" line up to the last "NNN " line (a last line with
// nothing after the code counts too), however the bytes arrive: split over
// several segments or several replies in one. Bytes past a reply are kept
// for the next one. A reply over 64 KiB, a closed connection, a failed
// receive or the time limit make read() fail.
//
// Also here: the EHLO filter that hides the extensions the proxy cannot
// pass on to the mail client.
#pragma once

#include "relay/Socket.h"

#include <string>
#include <string_view>

namespace MAIL {

class ReplyReader {
public:
    static constexpr std::size_t MaximumReply = 64 * 1024;

    explicit ReplyReader(Transport& transport) : transport_(&transport) {}

    // Reads from now on through another transport over the same connection
    // (the TLS layer after a handshake).
    void use(Transport& transport) { transport_ = &transport; }

    // Reads one whole reply (all its lines, line ends included) and its
    // code (the first three digits; 0 when they are not digits).
    [[nodiscard]] bool read(std::string& reply, int& code, int timeoutMilliseconds);

    // Bytes received beyond the last reply.
    bool hasPending() const { return !pending_.empty(); }
    // Whether the last failed read ran out of time (not closed, not broken).
    bool timedOut() const { return timedOut_; }

private:
    Transport* transport_;
    std::string pending_;
    bool timedOut_ = false;
};

// The code of a reply text: its first three characters as digits, else 0.
int replyCode(std::string_view reply);

// Whether a reply code says yes.
inline bool is2xx(int code) { return code >= 200 && code < 300; }

// Whether an EHLO reply offers the extension (any case; the first line,
// which names the server, never counts).
bool ehloOffers(std::string_view reply, std::string_view keyword);

// The EHLO reply without its CHUNKING, BINARYMIME, BURL and STARTTLS lines;
// the last remaining line gets a space after its code.
std::string filterEhloReply(std::string_view reply);

} // namespace MAIL
