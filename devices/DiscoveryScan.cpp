#include "devices/DiscoveryScan.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
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
    std::vector<pollfd> watched;
    for (const UniqueFd& fd : sockets) {
        watched.push_back({fd.Get(), POLLIN, 0});
    }
    watched.push_back({stopFd, POLLIN, 0}); // a negative descriptor is not watched
    const auto end = std::chrono::steady_clock::now() + wait;
    for (auto now = std::chrono::steady_clock::now(); now < end;
         now = std::chrono::steady_clock::now()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now);
        if (::poll(watched.data(), watched.size(), static_cast<int>(left.count())) <= 0) {
            continue;
        }
        if (watched.back().revents != 0) {
            break;
        }
        for (pollfd& entry : watched) {
            if (entry.fd == stopFd) {
                continue;
            }
            if ((entry.revents & POLLIN) == 0) {
                continue;
            }
            std::array<std::uint8_t, receiveSize> buffer{};
            sockaddr_in source{};
            alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in_pktinfo))> control{};
            iovec data{buffer.data(), buffer.size()};
            msghdr message{};
            message.msg_name = &source;
            message.msg_namelen = sizeof source;
            message.msg_iov = &data;
            message.msg_iovlen = 1;
            message.msg_control = control.data();
            message.msg_controllen = control.size();
            const ssize_t received = ::recvmsg(entry.fd, &message, 0);
            if (received < static_cast<ssize_t>(shortestReply)) {
                continue;
            }
            const ManagementReply reply =
                ParseReply(std::span(buffer).first(static_cast<std::size_t>(received)));
            if (!reply.magicValid ||
                std::ranges::any_of(modules, [&](const DiscoveredModule& known) {
                    return known.reply.macAddress == reply.macAddress;
                })) {
                continue;
            }
            DiscoveredModule module{reply, ntohl(source.sin_addr.s_addr), {}, false, false};
            for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
                 header = CMSG_NXTHDR(&message, header)) {
                if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
                    in_pktinfo info{};
                    std::memcpy(&info, CMSG_DATA(header), sizeof info);
                    module.interfaceName = InterfaceName(info.ipi_ifindex);
                }
            }
            modules.push_back(std::move(module));
        }
    }
    Flag(modules);
    return modules;
}

} // namespace ostrel
