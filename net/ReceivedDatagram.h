#pragma once

#include "common/DeviceAddress.h"

#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <span>

namespace ostrel {

// One datagram as recvmsg gives it, with what its control messages tell: when the kernel took
// it in (SO_TIMESTAMPNS) and the address and interface it came to (IP_PKTINFO), each when the
// socket asked for it.
struct ReceivedDatagram {
    // The datagram's own length, which is more than the buffer held when it was cut (MSG_TRUNC).
    std::size_t length = 0;
    sockaddr_in source{};
    std::optional<std::chrono::system_clock::time_point> arrival;
    std::optional<DeviceAddress> destination;
    int interfaceIndex = 0; // 0 when not told

    DeviceAddress SourceAddress() const { return ntohl(source.sin_addr.s_addr); }
};

// One receive into the buffer; nothing when none was ready or the call failed. flags go to
// recvmsg (MSG_TRUNC to learn an over-long datagram's length, MSG_DONTWAIT, ...).
std::optional<ReceivedDatagram> ReceiveDatagram(int fd, std::span<std::uint8_t> buffer,
                                                int flags = 0);

} // namespace ostrel
