#pragma once

#include <cstdint>

namespace ostrel::sim {

// Control bytes of the bootloader's frames, as the module sees them.
inline constexpr std::uint8_t SOH = 0x01;
inline constexpr std::uint8_t EOT = 0x04;
inline constexpr std::uint8_t DLE = 0x10;

} // namespace ostrel::sim
