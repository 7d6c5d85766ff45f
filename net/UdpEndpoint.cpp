#include "net/UdpEndpoint.h"

#include "net/ReceivedDatagram.h"
#include "net/UdpSocket.h"
#include "net/WireTrace.h"

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
    TraceSent(sock.Get(), data, peer);
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
    // MSG_TRUNC makes the call report the datagram's real length, so an over-long one is refused.
    const auto received = ReceiveDatagram(sock.Get(), buffer, MSG_TRUNC);
    if (!received || received->length == 0 || received->length > buffer.size()) {
        return {};
    }
    if (onlyFromPeer && received->source.sin_addr.s_addr != peer.sin_addr.s_addr) {
        return {};
    }
    return {received->length, received->arrival.value_or(std::chrono::system_clock::now())};
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
