// ServerConnection: reaching the SMTP server, shared by the sessions and
// the connection test.
//
// connectToServer() resolves the server name with getaddrinfo (an IPv4
// literal is used as it is, without a reverse lookup) and tries every
// address in order until one connects, all within one time limit. It refuses
// an address that is the proxy's own listening endpoint, which would make
// each session open another until descriptors run out. The descriptor it
// returns is close-on-exec.
#pragma once

#include <cstdint>
#include <string>

namespace MAIL {

// The proxy's own listening endpoint, to refuse connections to itself.
struct ListenEndpoint {
    std::uint32_t address = 0;  // IPv4, network byte order; 0 = every address
    std::uint16_t port = 0;     // 0 = no listener to avoid
};

struct ConnectResult {
    int descriptor = -1;  // the connected socket, or -1
    int error = 0;        // ERR_HOST_LOOKUP or ERR_SERVER_CONNECT when -1
};

ConnectResult connectToServer(const std::string& host, std::uint16_t port, int timeoutMilliseconds,
                              const ListenEndpoint& self = {});

// True when the text is a dotted IPv4 address (four decimal parts, 0-255).
bool parseIPv4(const std::string& text, std::uint32_t& networkOrder);

// True when the IPv4 address (network order) belongs to this machine.
bool isLocalAddress(std::uint32_t networkOrder);

} // namespace MAIL
