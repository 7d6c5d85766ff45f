#pragma once

#include <cstdint>
#include <span>

namespace ostrel {

// CRC-16/XMODEM (polynomial 0x1021, initial 0, no reflection, no final XOR). The module
// computes the same function over frames and flash, so it is part of the wire contract.
std::uint16_t Crc16(std::span<const std::uint8_t> data);
// The CRC of bytes that follow those whose CRC is crc: a long range in parts.
std::uint16_t Crc16(std::span<const std::uint8_t> data, std::uint16_t crc);

} // namespace ostrel
