#pragma once

#include <cstdint>

namespace ostrel {

// The bootloader's one-byte command codes; a reply carries the code of the command it answers.
enum class BootCommand : std::uint8_t {
    Query = 1,
    Erase = 2,
    Program = 3,
    Verify = 4,
    Run = 5,
};

// Frame control bytes: a frame runs from SOH to EOT, and DLE makes the next byte plain data.
inline constexpr std::uint8_t SOH = 0x01;
inline constexpr std::uint8_t EOT = 0x04;
inline constexpr std::uint8_t DLE = 0x10;

} // namespace ostrel
