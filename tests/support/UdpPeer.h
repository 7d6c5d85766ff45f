#pragma once

#include "common/UniqueFd.h"

#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <span>
#include <vector>

namespace ostrel::test {

// An in-process stand-in for a module: a UDP socket on a loopback address that notes when each
// datagram arrived and answers to its sender when told to.
class UdpPeer {
public:
    using Clock = std::chrono::steady_clock;

    struct Datagram {
        std::vector<std::uint8_t> bytes;
        sockaddr_in source{};
        Clock::time_point arrival;
    };

    explicit UdpPeer(const char* address = "127.0.0.1", std::uint16_t port = 0);

    std::uint16_t Port() const { return port; }
    // The next datagram, waiting at most the given time.
    std::optional<Datagram> Receive(std::chrono::milliseconds wait);
    // Every datagram that arrives within the given time.
    std::vector<Datagram> ReceiveAll(std::chrono::milliseconds window);
    // Several copies go out in one call, back to back as a duplicating switch passes them on.
    void SendTo(const sockaddr_in& destination, std::span<const std::uint8_t> bytes,
                unsigned copies = 1);

private:
    UniqueFd sock;
    std::uint16_t port = 0;
};

} // namespace ostrel::test
