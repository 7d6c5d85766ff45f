#pragma once

#include "sim/BootloaderModel.h"
#include "sim/CommandDeframer.h"
#include "tests/support/UdpPeer.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace ostrel::test {

// A module's bootloader inside the test's own process, answering from its own thread with the
// faults a real network makes: every reply sent several times back to back, or the first copy
// of some Program frames answered only after the host's time-out while the resent copy is
// answered at once. It ignores the wake string and keeps count of the frames it was sent.
class FakeBootloader {
public:
    using Clock = std::chrono::steady_clock;

    struct Faults {
        unsigned copies = 1;       // each reply goes out this many times, back to back
        std::size_t lateEvery = 0; // 0, or every n-th new Program frame's first answer is late
        std::chrono::milliseconds lateBy{600};
    };

    // Listens on the module port of the given loopback address.
    FakeBootloader(Faults faults, const char* address);
    FakeBootloader(const FakeBootloader&) = delete;
    FakeBootloader& operator=(const FakeBootloader&) = delete;
    ~FakeBootloader();

    // Good frames received so far with the given command code (resent copies included).
    std::size_t FramesReceived(std::uint8_t command) const;
    // The flash as the frames left it; stops the module first.
    std::vector<std::uint8_t> Flash();

private:
    struct Pending {
        Clock::time_point due;
        sockaddr_in destination;
        std::vector<std::uint8_t> bytes;
    };

    void Serve(std::stop_token stop);
    void Handle(const UdpPeer::Datagram& datagram);
    void SendDue();

    Faults faults;
    UdpPeer peer;
    sim::CommandDeframer deframer;
    sim::BootloaderModel model;
    std::vector<std::uint8_t> lastProgram;
    std::size_t newProgramFrames = 0;
    std::deque<Pending> pending; // ordered by due time
    mutable std::mutex mutex;
    std::array<std::size_t, 256> received{};
    std::jthread server;
};

} // namespace ostrel::test
