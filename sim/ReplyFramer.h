#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ostrel::sim {

// The largest reply datagram the host is prepared to take.
inline constexpr std::size_t MAX_REPLY_DATAGRAM = 245;

// Builds the reply frame for a payload: SOH, the payload and its CRC (low byte first) with
// control bytes escaped, EOT. Returns an empty vector when the frame would not fit one reply
// datagram.
std::vector<std::uint8_t> FrameReply(std::span<const std::uint8_t> payload);

} // namespace ostrel::sim
