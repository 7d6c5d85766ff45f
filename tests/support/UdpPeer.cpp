#include "tests/support/UdpPeer.h"

#include <arpa/inet.h>
#include <array>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>

namespace ostrel::test {

UdpPeer::UdpPeer(const char* address, std::uint16_t localPort)
    : sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(localPort);
    if (!sock.IsValid() || ::inet_pton(AF_INET, address, &local.sin_addr) != 1 ||
        ::bind(sock.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        throw std::runtime_error("cannot bind the test peer");
    }
    socklen_t length = sizeof local;
    ::getsockname(sock.Get(), reinterpret_cast<sockaddr*>(&local), &length);
    port = ntohs(local.sin_port);
}

std::optional<UdpPeer::Datagram> UdpPeer::Receive(std::chrono::milliseconds wait) {
    pollfd entry{sock.Get(), POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(wait.count())) <= 0) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 65536> buffer{};
    Datagram datagram;
    socklen_t length = sizeof datagram.source;
    const ssize_t received = ::recvfrom(sock.Get(), buffer.data(), buffer.size(), 0,
                                        reinterpret_cast<sockaddr*>(&datagram.source), &length);
    datagram.arrival = Clock::now();
    if (received < 0) {
        return std::nullopt;
    }
    datagram.bytes.assign(buffer.begin(), buffer.begin() + received);
    return datagram;
}

std::vector<UdpPeer::Datagram> UdpPeer::ReceiveAll(std::chrono::milliseconds window) {
    std::vector<Datagram> all;
    const auto end = Clock::now() + window;
    for (auto now = Clock::now(); now < end; now = Clock::now()) {
        auto next = Receive(std::chrono::duration_cast<std::chrono::milliseconds>(end - now) +
                            std::chrono::milliseconds(1));
        if (next) {
            all.push_back(std::move(*next));
        }
    }
    return all;
}

void UdpPeer::SendTo(const sockaddr_in& destination, std::span<const std::uint8_t> bytes,
                     unsigned copies) {
    iovec data{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
    std::vector<mmsghdr> messages(copies);
    for (mmsghdr& message : messages) {
        message.msg_hdr.msg_name = const_cast<sockaddr_in*>(&destination);
        message.msg_hdr.msg_namelen = sizeof destination;
        message.msg_hdr.msg_iov = &data;
        message.msg_hdr.msg_iovlen = 1;
    }
    ::sendmmsg(sock.Get(), messages.data(), copies, 0);
}

} // namespace ostrel::test
