#include "sim/FlashMemory.h"

#include "image/Crc16.h"

#include <algorithm>

namespace ostrel::sim {

FlashMemory::FlashMemory() : cells(SIZE, ERASED) {}

void FlashMemory::Erase() {
    std::fill(cells.begin(), cells.end(), ERASED);
}

std::size_t FlashMemory::Write(std::uint32_t address, std::span<const std::uint8_t> bytes) {
    std::size_t stored = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        // Per byte, so a record that wraps or crosses the flash's end keeps its inside part.
        const std::uint32_t physical = (address + static_cast<std::uint32_t>(i)) & PHYSICAL_MASK;
        if (physical >= BASE && physical - BASE < SIZE) {
            cells[physical - BASE] = bytes[i];
            ++stored;
        }
    }
    return stored;
}

std::uint16_t FlashMemory::Crc(std::uint32_t address, std::uint32_t length) const {
    const std::uint64_t first = address & PHYSICAL_MASK;
    const std::uint64_t last = first + length;
    const std::uint64_t begin = std::max<std::uint64_t>(first, BASE);
    const std::uint64_t end = std::min<std::uint64_t>(last, std::uint64_t{BASE} + SIZE);
    if (begin >= end) {
        return Crc16({});
    }
    return Crc16(std::span(cells).subspan(begin - BASE, end - begin));
}

} // namespace ostrel::sim
