#include "devices/qt/DiscoverySocket.h"

#include "common/UniqueFd.h"
#include "devices/ManagementDatagrams.h"
#include "net/ReceivedDatagram.h"
#include "net/WireTrace.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QHostAddress>

namespace ostrel {

namespace {

// A datagram socket bound to the port on any local address, allowed to broadcast; or nothing,
// with the system's error code in error.
UniqueFd BindBroadcastSocket(std::uint16_t port, int& error) {
    UniqueFd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    const int on = 1;
    // No SO_REUSEADDR: a port another program holds must really fail.
    if (!sock.IsValid() ||
        ::bind(sock.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::setsockopt(sock.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        error = errno;
        sock.Reset();
    }
    return sock;
}

} // namespace

DiscoverySocket::DiscoverySocket(ReplyHandler handler, DeviceAddress broadcast,
                                 MessageSink& messages)
    : owner(std::move(handler)), destination(broadcast) {
    int error = 0;
    UniqueFd sock = BindBroadcastSocket(localPort, error);
    if (!sock.IsValid()) {
        messages.Say("Try create again");
        sock = BindBroadcastSocket(fallbackPort, error);
    }
    if (sock.IsValid() && socket.setSocketDescriptor(sock.Get(), QAbstractSocket::BoundState)) {
        sock.Release(); // the QUdpSocket owns it now
        usable = true;
        connect(&socket, &QUdpSocket::readyRead, this, &DiscoverySocket::OnReceive);
        return;
    }
    // The scan goes on with a socket that sends nothing, so no module is listed.
    std::array<char, 96> text{};
    std::snprintf(text.data(), text.size(),
                  "Unable to Bind socket, is Brimlet already open? %d - %d", error, 0);
    messages.Say(text.data());
}

void DiscoverySocket::SendRequest() {
    if (!usable) {
        return;
    }
    const ManagementRequest request = BuildReadRequest();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(managementPort);
    to.sin_addr.s_addr = htonl(destination.toIPv4Address());
    TraceSent(static_cast<int>(socket.socketDescriptor()), request, to);
    socket.writeDatagram(reinterpret_cast<const char*>(request.data()),
                         static_cast<qint64>(request.size()), destination, managementPort);
}

void DiscoverySocket::OnReceive() {
    std::array<std::uint8_t, maxDatagram> buffer{};
    while (socket.hasPendingDatagrams()) {
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 received = socket.readDatagram(reinterpret_cast<char*>(buffer.data()),
                                                    buffer.size(), &sender, &senderPort);
        if (received >= 0) {
            ReceivedDatagram traced;
            traced.length = static_cast<std::size_t>(received);
            traced.source.sin_family = AF_INET;
            traced.source.sin_port = htons(senderPort);
            traced.source.sin_addr.s_addr = htonl(sender.toIPv4Address());
            TraceReceived(static_cast<int>(socket.socketDescriptor()), buffer, traced);
        }
        if (received > 0) {
            owner(std::span(buffer).first(static_cast<std::size_t>(received)));
        }
    }
}

} // namespace ostrel
