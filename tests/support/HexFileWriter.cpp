#include "tests/support/HexFileWriter.h"

#include <algorithm>
#include <cstdio>

namespace ostrel::test {

void HexFileWriter::Record(std::uint8_t type, std::uint16_t offset,
                           std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(data.size()),
                                       static_cast<std::uint8_t>(offset >> 8),
                                       static_cast<std::uint8_t>(offset & 0xFF), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    std::uint8_t sum = 0;
    for (const std::uint8_t b : bytes) {
        sum = static_cast<std::uint8_t>(sum + b);
    }
    bytes.push_back(static_cast<std::uint8_t>(0x100 - sum));

    std::string line = ":";
    for (const std::uint8_t b : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, lowerCase ? "%02x" : "%02X", b);
        line += pair;
    }
    records.push_back(std::move(bytes));
    Line(line);
}

void HexFileWriter::ExtendedSegment(std::uint16_t segment) {
    const std::uint8_t data[] = {static_cast<std::uint8_t>(segment >> 8),
                                 static_cast<std::uint8_t>(segment & 0xFF)};
    Record(2, 0, data);
}

void HexFileWriter::ExtendedLinear(std::uint16_t upper) {
    const std::uint8_t data[] = {static_cast<std::uint8_t>(upper >> 8),
                                 static_cast<std::uint8_t>(upper & 0xFF)};
    Record(4, 0, data);
}

void HexFileWriter::Line(const std::string& line) {
    text += line;
    text += lineEnd;
    ++lines;
}

HexFileWriter MakeFirmware(std::size_t dataBytes, std::size_t recordBytes, std::uint32_t seed) {
    HexFileWriter writer;
    std::uint32_t address = 0x1D000000;
    std::uint32_t upper = 0xFFFFFFFF;
    std::uint32_t pattern = seed;
    std::vector<std::uint8_t> data;
    for (std::size_t done = 0; done < dataBytes; done += data.size()) {
        if (address >> 16 != upper) {
            upper = address >> 16;
            writer.ExtendedLinear(static_cast<std::uint16_t>(upper));
        }
        // A record never crosses a 64 KiB boundary.
        const std::size_t room = 0x10000 - (address & 0xFFFF);
        data.resize(std::min({recordBytes, dataBytes - done, room}));
        for (auto& b : data) {
            pattern = pattern * 1664525u + 1013904223u;
            b = static_cast<std::uint8_t>(pattern >> 24);
        }
        writer.Data(static_cast<std::uint16_t>(address & 0xFFFF), data);
        address += static_cast<std::uint32_t>(data.size());
    }
    writer.EndOfFile();
    return writer;
}

} // namespace ostrel::test
