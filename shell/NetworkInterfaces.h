// NetworkInterfaces: the machine's IPv4 interfaces, and whether the machine
// counts as connected to the Internet.
//
// refresh() replaces the list with one record per IPv4 address of every
// interface (an interface with two addresses gives two records). A record
// is "up" when its interface is administratively up and running (IFF_UP and
// IFF_RUNNING), so an unplugged cable counts as down, and it is used only
// when it is not a loopback interface.
//
// The machine counts as connected when some up, non-loopback record has an
// address whose dotted form does not begin with "192.": addresses in
// 192.x.x.x are taken for a home or office network only. The test is on the
// text, so 192.0.2.1 is local and 19.2.0.1 is not.
//
// The records come from a query function: the system's own (getifaddrs) by
// default, or one given to the constructor. An object is used by one thread.
#pragma once

#include "foundation/String.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <netinet/in.h>

namespace MAIL {

struct InterfaceRecord {
    std::string name;      // "eth0"
    unsigned flags = 0;    // IFF_* bits of the interface
    in_addr address{};     // network byte order
};

class NetworkInterfaces {
public:
    // The raised code when the interface list cannot be had.
    static constexpr int QueryFailed = -1;

    // Gives the current records, or nothing when the list cannot be had.
    using Query = std::function<std::optional<std::vector<InterfaceRecord>>()>;

    // Uses the system's interface list.
    NetworkInterfaces();
    explicit NetworkInterfaces(Query query);

    // Clears the list and queries it again: the up count. Raises the integer
    // QueryFailed when the query fails; the list is then empty.
    int refresh();

    // Records that are up and not loopback, as of the last refresh().
    int getUpCount() const { return upCount_; }
    // All records of the last refresh(), loopback and down ones included.
    int getCount() const { return static_cast<int>(records_.size()); }

    // Sets address to the empty text; when 0 <= index < up count, writes the
    // dotted address of the index-th up, non-loopback record (from 0) and
    // returns true; otherwise false.
    bool getAddress(int index, String& address) const;

    // True when some up, non-loopback record's address does not begin with
    // "192.".
    bool isConnected() const;

    // Empties the list: count and up count 0.
    void clear();

    // refresh() and isConnected() in one, for callers that only want to
    // know: a failed query counts as not connected.
    bool refreshConnected();

    // True for a record the decisions use: up, running and not loopback.
    static bool isUsable(const InterfaceRecord& record);

    // The system's IPv4 records (getifaddrs); nothing when it fails.
    static std::optional<std::vector<InterfaceRecord>> querySystem();

private:
    Query query_;
    std::vector<InterfaceRecord> records_;
    int upCount_ = 0;
};

} // namespace MAIL
