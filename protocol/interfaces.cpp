#include "protocol/interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace quorvane {
namespace {

uint32_t HostOrder(const sockaddr* address) {
    return ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

bool IsIpv4(const sockaddr* address) {
    return address != nullptr && address->sa_family == AF_INET;
}

}  // namespace

uint32_t BroadcastOf(uint32_t address, uint32_t netmask, std::optional<uint32_t> reported) {
    if (reported) return *reported;
    return address | ~netmask;
}

std::vector<Ipv4Interface> ListIpv4Interfaces() {
    std::vector<Ipv4Interface> result;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return result;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (!IsIpv4(entry->ifa_addr)) continue;
        Ipv4Interface item;
        item.name = entry->ifa_name;
        item.address = HostOrder(entry->ifa_addr);
        item.netmask = IsIpv4(entry->ifa_netmask) ? HostOrder(entry->ifa_netmask) : 0xFFFFFFFFu;
        // ifa_broadaddr shares its place with the peer address of a
        // point-to-point link, so it counts only with IFF_BROADCAST.
        std::optional<uint32_t> reported;
        if ((entry->ifa_flags & IFF_BROADCAST) != 0 && IsIpv4(entry->ifa_broadaddr))
            reported = HostOrder(entry->ifa_broadaddr);
        item.broadcast = BroadcastOf(item.address, item.netmask, reported);
        result.push_back(item);
    }
    ::freeifaddrs(list);
    return result;
}

std::optional<Ipv4Interface> FindIpv4Interface(const std::vector<Ipv4Interface>& interfaces,
                                               const std::string& name) {
    for (const auto& item : interfaces)
        if (item.name == name) return item;
    return std::nullopt;
}

std::optional<Ipv4Interface> FindIpv4InterfaceByAddress(const std::vector<Ipv4Interface>& interfaces,
                                                        uint32_t address) {
    for (const auto& item : interfaces)
        if (item.address == address) return item;
    return std::nullopt;
}

}  // namespace quorvane
