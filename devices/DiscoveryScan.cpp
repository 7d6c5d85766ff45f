#include "devices/DiscoveryScan.h"

#include "common/EventWait.h"
#include "net/ReceivedDatagram.h"
#include "net/WireTrace.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace ostrel {

namespace {

constexpr DeviceAddress limitedBroadcast = 0xFFFFFFFF;
constexpr std::size_t shortestReply = 65;
constexpr std::size_t receiveSize = 1024;

sockaddr_in SocketAddress(DeviceAddress address, std::uint16_t port) {
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(port);
    socketAddress.sin_addr.s_addr = htonl(address);
    return socketAddress;
}

bool SendRequest(int fd, DeviceAddress destination, const NetworkInterface* through) {
    const ManagementRequest request = BuildReadRequest();
    sockaddr_in to = SocketAddress(destination, managementPort);
    iovec data{const_cast<std::uint8_t*>(request.data()), request.size()};
    msghdr message{};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    // The limited broadcast leaves through the interface named, whatever the routes say.
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in_pktinfo))> control{};
    if (through != nullptr) {
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = static_cast<int>(through->index);
        info.ipi_spec_dst.s_addr = htonl(through->address);
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    }
    TraceSent(fd, request, to, through != nullptr ? std::optional(through->address) : std::nullopt);
    return ::sendmsg(fd, &message, 0) == static_cast<ssize_t>(request.size());
}

std::string InterfaceName(int index) {
    std::array<char, IF_NAMESIZE> name{};
    return ::if_indextoname(static_cast<unsigned>(index), name.data()) != nullptr ? name.data()
                                                                                  : "";
}

// The flags that only the whole scan can tell.
void Flag(std::vector<DiscoveredModule>& modules) {
    const auto interfaces = BroadcastInterfaces();
    for (DiscoveredModule& module : modules) {
        const DeviceAddress address = module.reply.Address();
        const auto via =
            std::ranges::find(interfaces, module.interfaceName, &NetworkInterface::name);
        module.outsideSubnet = via != interfaces.end() && !via->InSubnet(address);
        module.addressShared = std::ranges::count_if(modules, [&](const DiscoveredModule& other) {
                                   return other.reply.Address() == address &&
                                          other.reply.macAddress != module.reply.macAddress;
                               }) > 0;
    }
}

} // namespace

std::optional<UniqueFd> DiscoveryScan::OpenSocket(DeviceAddress local, std::string& error) {
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    const int on = 1;
    const sockaddr_in bound = SocketAddress(local, 0);
    if (!fd.IsValid() || ::setsockopt(fd.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::setsockopt(fd.Get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
        ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    return fd;
}

bool DiscoveryScan::RequestOn(const NetworkInterface& interface, std::string& error) {
    auto fd = OpenSocket(interface.address, error);
    if (!fd) {
        return false;
    }
    const bool sent = SendRequest(fd->Get(), limitedBroadcast, &interface) &&
                      SendRequest(fd->Get(), interface.broadcast, nullptr);
    if (!sent) {
        error = std::strerror(errno);
    }
    sockets.push_back(std::move(*fd));
    return sent;
}

bool DiscoveryScan::RequestTo(DeviceAddress target, std::string& error) {
    auto fd = OpenSocket(0, error);
    if (!fd) {
        return false;
    }
    const bool sent = SendRequest(fd->Get(), target, nullptr);
    if (!sent) {
        error = std::strerror(errno);
    }
    sockets.push_back(std::move(*fd));
    return sent;
}

std::vector<DiscoveredModule> DiscoveryScan::Collect(std::chrono::milliseconds wait, int stopFd) {
    std::vector<DiscoveredModule> modules;
    const auto end = EventWait::Clock::now() + wait;
    EventWait events;
    for (bool stopped = false; !stopped && EventWait::Clock::now() < end;) {
        events.Watch(stopFd, [&] { stopped = true; });
        for (const UniqueFd& fd : sockets) {
            events.Watch(fd.Get(), [&, socket = fd.Get()] {
                if (!stopped) {
                    TakeReply(socket, modules);
                }
            });
        }
        events.Until(end);
        events.Wait();
    }
    Flag(modules);
    return modules;
}

void DiscoveryScan::TakeReply(int socket, std::vector<DiscoveredModule>& modules) {
    std::array<std::uint8_t, receiveSize> buffer{};
    const auto received = ReceiveDatagram(socket, buffer);
    if (!received || received->length < shortestReply) {
        return;
    }
    const ManagementReply reply =
        ParseReply(std::span(buffer).first(std::min(received->length, buffer.size())));
    if (!reply.magicValid || std::ranges::any_of(modules, [&](const DiscoveredModule& known) {
            return known.reply.macAddress == reply.macAddress;
        })) {
        return;
    }
    DiscoveredModule module{reply, received->SourceAddress(), {}, false, false};
    if (received->interfaceIndex != 0) {
        module.interfaceName = InterfaceName(received->interfaceIndex);
    }
    modules.push_back(std::move(module));
}

} // namespace ostrel
