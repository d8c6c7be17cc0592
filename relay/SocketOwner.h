// SocketOwner: Pelorus serves only the account that started it.
//
// Every account of the machine can connect to 127.0.0.1, and a local agent
// that holds a user's mail server and puts questions on the user's screen
// must not serve another account's programs. For a client on a loopback
// address the kernel knows which account opened the client's socket: one
// NETLINK_SOCK_DIAG request names that socket by its exact four-tuple and
// the answer carries its owner. No privilege is needed, and no list of the
// machine's sockets is ever read.
//
// admitClient() decides before the session says anything. A client of
// another account, or one whose owner cannot be found (fail closed), gets
// the ForeignClient reply and the caller closes the connection: no server
// connection, no confirmation, no balloon. Clients on other addresses exist
// only when the user chose to listen on such an address; that listener
// trusts its network, and they are served as before.
#pragma once

#include "relay/Socket.h"

#include <string>

#include <sys/socket.h>
#include <sys/types.h>

namespace MAIL {

// The two ends of an accepted connection, as our socket sees them.
struct ConnectionEnds {
    sockaddr_storage local{};  // our address: where the client connected to
    sockaddr_storage peer{};   // the client's address
};

// Finds the account owning the client's socket; false with a reason when
// it cannot be found.
using OwnerQuery = bool (*)(const ConnectionEnds& ends, uid_t& owner, std::string& reason);

// The kernel's answer, through one sock_diag exchange.
bool querySocketOwner(const ConnectionEnds& ends, uid_t& owner, std::string& reason);

// Replaces the query, so a test can make it fail; null restores the kernel's.
void setOwnerQuery(OwnerQuery query);

// True for 127.0.0.0/8, ::1 and the IPv4-mapped ::ffff:127.0.0.0/104.
bool isLoopbackAddress(const sockaddr_storage& address);

// True when the client may be served. Otherwise the refusal has been sent
// (as far as the client still listens) and the caller ends the session.
bool admitClient(Socket& client);

} // namespace MAIL
