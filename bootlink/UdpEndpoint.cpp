#include "bootlink/UdpEndpoint.h"

#include "bootlink/UdpSocket.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace ostrel {

UdpEndpoint::UdpEndpoint(MessageSink& sink) : messages(sink) {}

bool UdpEndpoint::Open(std::uint16_t port, DeviceAddress address) {
    Close();
    UniqueFd created = OpenUdpSocket(receiveTimeout, messages, SocketFailureStyle::Endpoint);
    if (!created.IsValid()) {
        return false;
    }
    // Arrival stamps tell an echo from an answer; without them the read time stands in.
    const int on = 1;
    ::setsockopt(created.Get(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    peer = {};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(address);
    sock = std::move(created);
    return true;
}

long UdpEndpoint::Send(std::span<const std::uint8_t> data) {
    if (!IsOpen()) {
        return -1;
    }
    return ::sendto(sock.Get(), data.data(), data.size(), 0,
                    reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
}

std::size_t UdpEndpoint::Receive(std::span<std::uint8_t> buffer) {
    return ReceiveWithArrival(buffer).length;
}

UdpEndpoint::Arrival UdpEndpoint::ReceiveWithArrival(std::span<std::uint8_t> buffer) {
    if (!IsOpen()) {
        return {};
    }
    sockaddr_in source{};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(timespec))> control{};
    iovec data{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    // MSG_TRUNC makes the call report the datagram's real length, so an over-long one is refused.
    const ssize_t received = ::recvmsg(sock.Get(), &message, MSG_TRUNC);
    if (received <= 0 || static_cast<std::size_t>(received) > buffer.size()) {
        return {};
    }
    if (onlyFromPeer && source.sin_addr.s_addr != peer.sin_addr.s_addr) {
        return {};
    }
    Arrival arrival{static_cast<std::size_t>(received), std::chrono::system_clock::now()};
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(header), sizeof stamp);
            arrival.at = std::chrono::system_clock::time_point(
                std::chrono::duration_cast<std::chrono::system_clock::duration>(
                    std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
        }
    }
    return arrival;
}

bool UdpEndpoint::WaitReadable(std::chrono::milliseconds timeout) const {
    if (!IsOpen()) {
        return false;
    }
    pollfd entry{sock.Get(), POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(timeout.count())) > 0 && (entry.revents & POLLIN);
}

void UdpEndpoint::Close() {
    sock.Reset();
}

} // namespace ostrel
