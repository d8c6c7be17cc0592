// The owner check of an accepted client: one sock_diag request for the
// client's socket, its answer read into a bounded buffer and checked field
// by field before its uid is believed.
#include "relay/SocketOwner.h"

#include "config/LogWriter.h"
#include "foundation/FileDescriptor.h"
#include "relay/ProxyReply.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

namespace MAIL {

namespace {

// The kernel answers while our send is still in progress; the limit only
// guards against a kernel that never does.
constexpr int AnswerMilliseconds = 2000;
// One socket's record is about a hundred bytes; anything that does not fit
// here is not the answer we asked for.
constexpr std::size_t AnswerBytes = 8192;
// Replies that are not ours (a stale sequence number) are skipped, a few.
constexpr int MaxDatagrams = 4;
constexpr int RefusalSendSeconds = 5;

std::atomic<OwnerQuery> installedQuery{nullptr};
std::atomic<std::uint32_t> nextSequence{1};

// One endpoint in the form the kernel's lookup takes.
struct Endpoint {
    int family = 0;
    std::uint16_t port = 0;        // network order
    std::uint32_t address[4] = {}; // network order; IPv4 in the first word
};

// IPv4-mapped IPv6 addresses become plain IPv4: such a connection is IPv4
// in the kernel, whatever family the client's socket has.
bool toEndpoint(const sockaddr_storage& address, Endpoint& out)
{
    if (address.ss_family == AF_INET) {
        sockaddr_in v4;
        std::memcpy(&v4, &address, sizeof v4);
        out.family = AF_INET;
        out.port = v4.sin_port;
        out.address[0] = v4.sin_addr.s_addr;
        return true;
    }
    if (address.ss_family == AF_INET6) {
        sockaddr_in6 v6;
        std::memcpy(&v6, &address, sizeof v6);
        out.port = v6.sin6_port;
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
            out.family = AF_INET;
            std::memcpy(&out.address[0], &v6.sin6_addr.s6_addr[12], 4);
        } else {
            out.family = AF_INET6;
            std::memcpy(out.address, &v6.sin6_addr, sizeof out.address);
        }
        return true;
    }
    return false;
}

std::string systemReason(const char* step, int number)
{
    return std::string(step) + ": " + std::strerror(number);
}

// Looks through one datagram for the answer to sequence; 1 found, 0 not in
// this datagram, -1 a refusal or a malformed answer (reason says which).
int readAnswer(const char* data, std::size_t length, std::uint32_t sequence, const Endpoint& client,
               const Endpoint& server, uid_t& owner, std::string& reason)
{
    int left = static_cast<int>(length);
    for (auto* header = reinterpret_cast<const nlmsghdr*>(data); NLMSG_OK(header, left);
         header = NLMSG_NEXT(header, left)) {
        if (header->nlmsg_seq != sequence)
            continue;
        if (header->nlmsg_type == NLMSG_ERROR) {
            nlmsgerr failure;
            if (header->nlmsg_len < NLMSG_LENGTH(sizeof failure)) {
                reason = "short netlink error message";
                return -1;
            }
            std::memcpy(&failure, NLMSG_DATA(header), sizeof failure);
            const bool plausible = failure.error < 0 && failure.error > -4096;
            reason = failure.error == -ENOENT ? std::string("the kernel knows no such client socket")
                                              : systemReason("sock_diag", plausible ? -failure.error : EPROTO);
            return -1;
        }
        if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY) {
            reason = "unexpected netlink message type " + std::to_string(header->nlmsg_type);
            return -1;
        }
        inet_diag_msg record;
        if (header->nlmsg_len < NLMSG_LENGTH(sizeof record)) {
            reason = "short sock_diag record";
            return -1;
        }
        std::memcpy(&record, NLMSG_DATA(header), sizeof record);
        if (record.id.idiag_sport != client.port || record.id.idiag_dport != server.port) {
            reason = "the kernel described another socket";
            return -1;
        }
        // A socket in TIME-WAIT, or a connection not yet accepted, is
        // reported with uid 0: no owner at all.
        if (record.idiag_state == TCP_TIME_WAIT || record.idiag_state == TCP_LISTEN ||
            record.idiag_state == TCP_SYN_RECV || record.idiag_state > TCP_CLOSING) {
            reason = "the client socket has no owner (state " + std::to_string(record.idiag_state) + ")";
            return -1;
        }
        owner = record.idiag_uid;
        return 1;
    }
    return 0;
}

OwnerQuery currentQuery()
{
    const OwnerQuery query = installedQuery.load();
    return query != nullptr ? query : &querySocketOwner;
}

} // namespace

bool isLoopbackAddress(const sockaddr_storage& address)
{
    Endpoint endpoint;
    if (!toEndpoint(address, endpoint))
        return false;
    if (endpoint.family == AF_INET)
        return (ntohl(endpoint.address[0]) >> 24) == 127;
    in6_addr v6;
    std::memcpy(&v6, endpoint.address, sizeof v6);
    return IN6_IS_ADDR_LOOPBACK(&v6);
}

void setOwnerQuery(OwnerQuery query) { installedQuery.store(query); }

bool querySocketOwner(const ConnectionEnds& ends, uid_t& owner, std::string& reason)
{
    // The client's socket: its own address is our peer, its peer is us.
    Endpoint client, server;
    if (!toEndpoint(ends.peer, client) || !toEndpoint(ends.local, server) || client.family != server.family) {
        reason = "not a TCP/IP connection";
        return false;
    }
    FileDescriptor link(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!link.isOpen()) {
        reason = systemReason("netlink socket", errno);
        return false;
    }

    struct {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } request{};
    const std::uint32_t sequence = nextSequence.fetch_add(1);
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof request.body);
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    // No NLM_F_DUMP: the kernel looks up this one socket by its four-tuple.
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = sequence;
    request.body.sdiag_family = static_cast<std::uint8_t>(client.family);
    request.body.sdiag_protocol = IPPROTO_TCP;
    request.body.idiag_states = ~0U;
    request.body.id.idiag_sport = client.port;
    request.body.id.idiag_dport = server.port;
    std::memcpy(request.body.id.idiag_src, client.address, sizeof client.address);
    std::memcpy(request.body.id.idiag_dst, server.address, sizeof server.address);
    request.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(link.get(), &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) != static_cast<ssize_t>(request.header.nlmsg_len)) {
        reason = systemReason("netlink send", errno);
        return false;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AnswerMilliseconds);
    alignas(nlmsghdr) char answer[AnswerBytes];
    for (int datagram = 0; datagram < MaxDatagrams; ++datagram) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        pollfd wait{link.get(), POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&wait, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            reason = ready == 0 ? "no answer from the kernel in time" : systemReason("netlink poll", errno);
            return false;
        }
        sockaddr_nl sender{};
        iovec part{answer, sizeof answer};
        msghdr message{};
        message.msg_name = &sender;
        message.msg_namelen = sizeof sender;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        const ssize_t received = ::recvmsg(link.get(), &message, MSG_DONTWAIT);
        if (received < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            reason = systemReason("netlink receive", errno);
            return false;
        }
        if ((message.msg_flags & MSG_TRUNC) != 0) {
            reason = "oversized netlink answer";
            return false;
        }
        if (message.msg_namelen != sizeof sender || sender.nl_pid != 0)
            continue;  // only the kernel answers for sockets
        const int found = readAnswer(answer, static_cast<std::size_t>(received), sequence, client, server, owner,
                                     reason);
        if (found != 0)
            return found > 0;
    }
    reason = "no answer to our request";
    return false;
}

bool admitClient(Socket& client)
{
    LogWriter* log = getLogWriter();
    ConnectionEnds ends;
    socklen_t localLength = sizeof ends.local;
    socklen_t peerLength = sizeof ends.peer;
    std::string reason;
    bool known = false;
    if (::getsockname(client.getHandle(), reinterpret_cast<sockaddr*>(&ends.local), &localLength) != 0) {
        reason = systemReason("getsockname", errno);
    } else if (::getpeername(client.getHandle(), reinterpret_cast<sockaddr*>(&ends.peer), &peerLength) != 0) {
        reason = systemReason("getpeername", errno);
    } else if (!isLoopbackAddress(ends.peer)) {
        debug(log, "SocketOwner#admitClient,1,Client from a network address: served without an owner check");
        return true;
    } else {
        known = true;
    }
    uid_t owner = 0;
    if (known && currentQuery()(ends, owner, reason)) {
        if (owner == ::geteuid())
            return true;
        // The log has no warning level: a foreign account knocking goes to
        // the level that is written whenever logging is on.
        error(log, "SocketOwner#admitClient,2,Refused a client of another account: uid=%u (Pelorus runs as uid=%u)",
              static_cast<unsigned>(owner), static_cast<unsigned>(::geteuid()));
    } else {
        error(log, "SocketOwner#admitClient,3,Refused a client whose account cannot be found: %s", reason.c_str());
    }
    const std::string reply = proxyReply(ProxyReply::ForeignClient);
    (void)client.sendAll(reply.data(), reply.size(), RefusalSendSeconds);
    return false;
}

} // namespace MAIL
