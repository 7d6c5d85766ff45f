#include "sim/RecordInterpreter.h"

#include <algorithm>

namespace ostrel::sim {

namespace {

constexpr std::size_t HEADER = 4; // length, offset high, offset low, type

std::uint16_t Word(std::span<const std::uint8_t> data) {
    return static_cast<std::uint16_t>((data[0] << 8) | data[1]);
}

} // namespace

RecordInterpreter::Result RecordInterpreter::Apply(std::span<const std::uint8_t> records,
                                                   FlashMemory& flash) {
    Result result;
    std::size_t position = 0;
    while (records.size() - position >= HEADER) {
        const auto record = records.subspan(position);
        const std::size_t length = record[0];
        const auto offset = static_cast<std::uint16_t>((record[1] << 8) | record[2]);
        const std::uint8_t type = record[3];
        const std::size_t available = record.size() - HEADER;
        const auto data = record.subspan(HEADER, std::min(length, available));
        ++result.records;
        if (length > available) {
            result.truncated = true;
        }

        switch (type) {
        case DATA:
            result.storedBytes += flash.Write(base + offset, data);
            break;
        case EXTENDED_SEGMENT:
            if (data.size() >= 2) {
                base = std::uint32_t{Word(data)} << 4;
            }
            break;
        case EXTENDED_LINEAR:
            if (data.size() >= 2) {
                base = std::uint32_t{Word(data)} << 16;
            }
            break;
        case END_OF_FILE:
            // Whatever follows starts afresh, as at the start of a file.
            base = 0;
            break;
        default:
            break;
        }
        // Data, then the checksum, which the host carries along and nobody checks.
        position += HEADER + length + 1;
        if (position >= records.size()) {
            break;
        }
    }
    return result;
}

} // namespace ostrel::sim
