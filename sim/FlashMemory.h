#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace ostrel::sim {

// The module's 5 MiB program flash. Addresses are device addresses in either segment alias:
// 0x9D000000 and 0x1D000000 name the same byte. Bytes that fall outside the flash (the boot
// area, say) are dropped. Only pages that were written take memory, so that a process can
// simulate a thousand modules; an erased page reads as ERASED.
class FlashMemory {
public:
    static constexpr std::uint32_t BASE = 0x1D000000;
    static constexpr std::uint32_t SIZE = 0x500000;
    static constexpr std::uint32_t PHYSICAL_MASK = 0x1FFFFFFF;
    static constexpr std::uint8_t ERASED = 0xFF;
    static constexpr std::uint32_t PAGE = 4096;

    void Erase();
    // Returns how many of the bytes landed in the flash.
    std::size_t Write(std::uint32_t address, std::span<const std::uint8_t> bytes);
    // CRC-16 over the part of the range that lies inside the flash; the rest of the range
    // contributes nothing (an empty intersection gives 0x0000).
    std::uint16_t Crc(std::uint32_t address, std::uint32_t length) const;
    // The whole flash, page by page from its start.
    void ForEachPage(const std::function<void(std::span<const std::uint8_t>)>& take) const;
    std::vector<std::uint8_t> Contents() const;

private:
    using Page = std::array<std::uint8_t, PAGE>;
    std::span<const std::uint8_t> PageAt(std::size_t index) const;

    std::vector<std::unique_ptr<Page>> pages; // empty until the first write
};

} // namespace ostrel::sim
