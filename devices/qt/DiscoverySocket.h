#pragma once

#include "common/DeviceAddress.h"
#include "common/MessageSink.h"

#include <cstdint>
#include <functional>
#include <span>

#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>

namespace ostrel {

// The socket of one discovery scan: bound to local port 6234 (6235 when that is taken), allowed
// to broadcast, sending read requests to one broadcast address and handing every datagram it
// receives to its owner on the user-interface thread.
class DiscoverySocket final : public QObject {
    Q_OBJECT

public:
    static constexpr std::uint16_t localPort = 6234;
    static constexpr std::uint16_t fallbackPort = 6235;
    static constexpr std::size_t maxDatagram = 1024;

    using ReplyHandler = std::function<void(std::span<const std::uint8_t>)>;

    DiscoverySocket(ReplyHandler owner, DeviceAddress broadcast, MessageSink& messages);
    Q_DISABLE_COPY_MOVE(DiscoverySocket)

    // One read request to the broadcast address. Lost when the socket could not be set up.
    void SendRequest();

private:
    void OnReceive();

    ReplyHandler owner;
    QHostAddress destination;
    QUdpSocket socket;
    bool usable = false;
};

} // namespace ostrel
