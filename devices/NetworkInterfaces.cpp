#include "devices/NetworkInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <memory>
#include <net/if.h>
#include <netinet/in.h>

namespace ostrel {

namespace {

DeviceAddress AddressOf(const sockaddr* address) {
    return ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

} // namespace

std::vector<NetworkInterface> BroadcastInterfaces() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return {};
    }
    const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owned(list, &::freeifaddrs);
    std::vector<NetworkInterface> found;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        const unsigned flags = entry->ifa_flags;
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            (flags & IFF_UP) == 0 || (flags & IFF_BROADCAST) == 0 || (flags & IFF_LOOPBACK) != 0 ||
            entry->ifa_netmask == nullptr) {
            continue;
        }
        NetworkInterface interface;
        interface.name = entry->ifa_name;
        interface.index = ::if_nametoindex(entry->ifa_name);
        interface.address = AddressOf(entry->ifa_addr);
        interface.netmask = AddressOf(entry->ifa_netmask);
        // An address added without a broadcast address (ip addr add A/N, no brd) comes with
        // none, or with the interface's own address in its place: the directed broadcast is
        // then the subnet's, from the address and mask.
        const DeviceAddress given =
            entry->ifa_broadaddr != nullptr ? AddressOf(entry->ifa_broadaddr) : 0;
        interface.broadcast = given != 0 && given != interface.address
                                  ? given
                                  : interface.address | ~interface.netmask;
        found.push_back(interface);
    }
    return found;
}

} // namespace ostrel
