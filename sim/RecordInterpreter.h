#pragma once

#include "sim/FlashMemory.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace ostrel::sim {

// Interprets the HEX records that a Program frame carries back to back, and keeps the
// extended address between frames as the bootloader does.
class RecordInterpreter {
public:
    static constexpr std::uint8_t DATA = 0;
    static constexpr std::uint8_t END_OF_FILE = 1;
    static constexpr std::uint8_t EXTENDED_SEGMENT = 2;
    static constexpr std::uint8_t EXTENDED_LINEAR = 4;

    struct Result {
        std::size_t records = 0;     // records whose header was complete
        std::size_t storedBytes = 0; // data bytes that landed in the flash
        bool truncated = false;      // the last record claimed more bytes than the frame held
    };

    Result Apply(std::span<const std::uint8_t> records, FlashMemory& flash);

    // The address base that the next data record is relative to.
    std::uint32_t Base() const { return base; }
    void SetBase(std::uint32_t value) { base = value; }

private:
    std::uint32_t base = 0;
};

} // namespace ostrel::sim
