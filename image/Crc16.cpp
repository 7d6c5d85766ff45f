#include "image/Crc16.h"

#include <array>

namespace ostrel {

namespace {

// Entry i is the nibble i shifted four times through the polynomial, i.e. i * 0x1021.
constexpr std::array<std::uint16_t, 16> nibbleTable = {
    0x0000, 0x1021, 0x2042, 0x3063, 0x4084, 0x50A5, 0x60C6, 0x70E7,
    0x8108, 0x9129, 0xA14A, 0xB16B, 0xC18C, 0xD1AD, 0xE1CE, 0xF1EF,
};

} // namespace

std::uint16_t Crc16(std::span<const std::uint8_t> data) {
    return Crc16(data, 0);
}

std::uint16_t Crc16(std::span<const std::uint8_t> data, std::uint16_t from) {
    // Two nibble steps per byte, high nibble first. Every entry's top nibble equals its index,
    // so the second step's index is known before the first lookup completes: both lookups of
    // a byte can run side by side instead of one after the other.
    std::uint32_t crc = from;
    for (const std::uint8_t byte : data) {
        const std::uint32_t x = ((crc >> 8) ^ byte) & 0xFFu;
        const std::uint32_t high = x >> 4;
        const std::uint32_t low = x & 0x0Fu;
        crc = ((crc << 8) & 0xFF00u) ^ ((std::uint32_t{nibbleTable[high]} << 4) & 0xFFFFu) ^
              nibbleTable[high ^ low];
    }
    return static_cast<std::uint16_t>(crc);
}

} // namespace ostrel
