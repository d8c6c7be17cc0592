#include "shell/NetworkInterfaces.h"

#include <utility>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

namespace MAIL {

namespace {

// Addresses in this range are taken for a local network only.
constexpr const char* LocalPrefix = "192.";

} // namespace

NetworkInterfaces::NetworkInterfaces() : NetworkInterfaces(Query(&NetworkInterfaces::querySystem)) {}

NetworkInterfaces::NetworkInterfaces(Query query) : query_(std::move(query))
{
    if (!query_)
        query_ = &NetworkInterfaces::querySystem;
}

int NetworkInterfaces::refresh()
{
    clear();
    std::optional<std::vector<InterfaceRecord>> records = query_();
    if (!records)
        throw QueryFailed;
    records_ = std::move(*records);
    for (const InterfaceRecord& record : records_)
        if (isUsable(record))
            ++upCount_;
    return upCount_;
}

bool NetworkInterfaces::getAddress(int index, String& address) const
{
    address = String("");
    if (index < 0 || index >= upCount_)
        return false;
    int seen = 0;
    for (const InterfaceRecord& record : records_) {
        if (!isUsable(record))
            continue;
        if (seen++ != index)
            continue;
        char dotted[INET_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET, &record.address, dotted, sizeof dotted) == nullptr)
            return false;
        address = String(dotted);
        return true;
    }
    return false;
}

bool NetworkInterfaces::isConnected() const
{
    String address;
    for (int index = 0; index < upCount_; ++index)
        if (getAddress(index, address) && !address.startsWith(LocalPrefix))
            return true;
    return false;
}

void NetworkInterfaces::clear()
{
    records_.clear();
    upCount_ = 0;
}

bool NetworkInterfaces::refreshConnected()
{
    try {
        refresh();
    } catch (int) {
        return false;
    }
    return isConnected();
}

bool NetworkInterfaces::isUsable(const InterfaceRecord& record)
{
    const unsigned upAndRunning = IFF_UP | IFF_RUNNING;
    return (record.flags & upAndRunning) == upAndRunning && (record.flags & IFF_LOOPBACK) == 0;
}

std::optional<std::vector<InterfaceRecord>> NetworkInterfaces::querySystem()
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return std::nullopt;
    std::optional<std::vector<InterfaceRecord>> records;
    try {
        records.emplace();
        for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
            if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
                continue;
            InterfaceRecord record;
            if (entry->ifa_name != nullptr)
                record.name = entry->ifa_name;
            record.flags = entry->ifa_flags;
            record.address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
            records->push_back(std::move(record));
        }
    } catch (...) {
        records.reset();
    }
    ::freeifaddrs(list);
    return records;
}

} // namespace MAIL
