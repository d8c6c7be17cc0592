#include "relay/ServerConnection.h"

#include "relay/RelayError.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace MAIL {

namespace {

using Clock = std::chrono::steady_clock;

struct AddrInfoFree {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

// Would a connection to this IPv4 endpoint reach our own listener?
bool isSelf(const sockaddr_in& target, const ListenEndpoint& self)
{
    if (self.port == 0 || ntohs(target.sin_port) != self.port)
        return false;
    if (self.address != 0)
        return target.sin_addr.s_addr == self.address;
    return isLocalAddress(target.sin_addr.s_addr);
}

// Connects one address without blocking past the deadline.
int connectOne(const addrinfo& entry, Clock::time_point deadline)
{
    const int fd = ::socket(entry.ai_family, entry.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, entry.ai_protocol);
    if (fd < 0)
        return -1;
    if (::connect(fd, entry.ai_addr, entry.ai_addrlen) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            ::close(fd);
            return -1;
        }
        pollfd wait{fd, POLLOUT, 0};
        const int rc = ::poll(&wait, 1, static_cast<int>(left));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            continue;  // the deadline check above ends it
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            ::close(fd);
            return -1;
        }
        // Back to blocking mode: the Socket class waits with poll itself.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return fd;
    }
}

} // namespace

bool parseIPv4(const std::string& text, std::uint32_t& networkOrder)
{
    // Four decimal parts, nothing else: no octal, hex or shortened forms.
    in_addr address{};
    if (::inet_pton(AF_INET, text.c_str(), &address) != 1)
        return false;
    networkOrder = address.s_addr;
    return true;
}

bool isLocalAddress(std::uint32_t networkOrder)
{
    if ((ntohl(networkOrder) >> 24) == 127)
        return true;
    // Binding succeeds only for an address assigned to this machine.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = networkOrder;
    const bool local = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return local;
}

ConnectResult connectToServer(const std::string& host, std::uint16_t port, int timeoutMilliseconds,
                              const ListenEndpoint& self)
{
    ConnectResult result;
    result.error = ERR_HOST_LOOKUP;
    if (host.empty())
        return result;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    std::uint32_t literal = 0;
    if (parseIPv4(host, literal))
        hints.ai_flags = AI_NUMERICHOST;  // used as it is, no reverse lookup
    const std::string service = std::to_string(port);
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr)
        return result;
    std::unique_ptr<addrinfo, AddrInfoFree> list(found);
    result.error = ERR_SERVER_CONNECT;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in))
            continue;
        if (isSelf(*reinterpret_cast<const sockaddr_in*>(entry->ai_addr), self))
            continue;
        const int fd = connectOne(*entry, deadline);
        if (fd >= 0) {
            result.descriptor = fd;
            result.error = 0;
            return result;
        }
        if (Clock::now() >= deadline)
            break;
    }
    return result;
}

} // namespace MAIL
