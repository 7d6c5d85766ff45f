#pragma once

#include "tests/support/UdpPeer.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

namespace ostrel::test {

// A module that answers management read requests from its own thread with scripted replies,
// and keeps every datagram it receives, so that a dialog blocked in a read can be tested.
class FakeModule {
public:
    using Bytes = std::vector<std::uint8_t>;

    // replies[i] answers the i-th read request; a missing or empty entry leaves it unanswered.
    FakeModule(const char* address, std::vector<Bytes> replies);
    ~FakeModule();

    std::vector<Bytes> Received() const;
    std::vector<Bytes> Received(std::uint8_t opcode) const; // management datagrams of one opcode
    // Waits until count datagrams of the opcode have come, at most for the limit; returns them.
    std::vector<Bytes> WaitFor(std::uint8_t opcode, std::size_t count,
                               std::chrono::milliseconds limit) const;

private:
    void Serve(std::stop_token stop);

    UdpPeer peer;
    std::vector<Bytes> replies;
    mutable std::mutex mutex;
    std::vector<Bytes> received;
    std::jthread server;
};

} // namespace ostrel::test
