#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ostrel::sim {

enum class DeframeStatus {
    Frame,      // a frame with a good CRC: payload holds its bytes without the CRC
    BadCrc,     // a complete frame whose CRC does not match
    TooShort,   // a complete frame with fewer bytes than a command byte and a CRC
    TooLong,    // a frame larger than the bootloader's receive buffer
    Incomplete, // a frame has started and goes on in a later datagram
    NoFrame,    // only bytes outside any frame
};

struct DeframeResult {
    DeframeStatus status = DeframeStatus::NoFrame;
    std::vector<std::uint8_t> payload;
};

// Recovers the host's command frames from received datagrams. A frame may be split over
// datagrams; bytes outside a frame are discarded. Only the first good frame of a datagram is
// taken, as the host sends one frame per datagram.
class CommandDeframer {
public:
    static constexpr std::size_t MAX_BODY = 2048; // unescaped payload plus CRC

    DeframeResult Feed(std::span<const std::uint8_t> bytes);
    void Reset();

private:
    DeframeStatus Close();

    std::vector<std::uint8_t> body;
    bool inFrame = false;
    bool escapePending = false;
    bool overflow = false;
};

} // namespace ostrel::sim
