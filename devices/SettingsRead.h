#pragma once

#include "devices/ManagementDatagrams.h"
#include "net/UdpEndpoint.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace ostrel {

// The setup dialog's read exchange with one module: a read request, a wait, one receive, and
// again, until a datagram of more than 60 bytes comes, at most 15 times.
struct SettingsRead {
    static constexpr int tries = 15;
    // How long each try waits before it receives; the wait ends early when a datagram is ready.
    static constexpr std::chrono::milliseconds replyWait{250};
    static constexpr std::size_t bufferSize = 245;
    static constexpr std::size_t acceptedLength = 61;

    using Reply = std::array<std::uint8_t, bufferSize>;
    // Waits at most the given time, or until the endpoint has a datagram; the window handles its
    // events meanwhile, the console only waits. False ends the exchange (the user stopped it).
    using Wait = std::function<bool(UdpEndpoint& endpoint, std::chrono::milliseconds limit)>;
};

// Runs the exchange on an open endpoint. The accepted reply's bytes (what a short reply does
// not cover reads as zero), or nothing after the last try or when the wait ends it.
std::optional<SettingsRead::Reply> ReadSettings(UdpEndpoint& endpoint,
                                                const SettingsRead::Wait& wait,
                                                int tries = SettingsRead::tries);

// A wait for nothing but the endpoint, or until stopFd (if not -1) becomes readable; false then.
bool WaitForDatagram(UdpEndpoint& endpoint, std::chrono::milliseconds limit, int stopFd = -1);

} // namespace ostrel
