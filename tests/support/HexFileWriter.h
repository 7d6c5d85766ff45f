#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::test {

// Writes Intel HEX text line by line, with a correct checksum on every record. Each line takes
// the line end and letter case set at the moment it is added.
class HexFileWriter {
public:
    explicit HexFileWriter(std::string_view lineEnding = "\n") : lineEnd(lineEnding) {}

    std::string lineEnd;
    bool lowerCase = false;

    void Record(std::uint8_t type, std::uint16_t offset, std::span<const std::uint8_t> data);
    void Data(std::uint16_t offset, std::span<const std::uint8_t> data) { Record(0, offset, data); }
    void ExtendedSegment(std::uint16_t segment);
    void ExtendedLinear(std::uint16_t upper);
    void EndOfFile() { Record(1, 0, {}); }
    void Line(const std::string& text); // any text, taken as it is

    const std::string& Text() const { return text; }
    std::size_t LineCount() const { return lines; }
    // The decoded bytes of every record line, in file order.
    const std::vector<std::vector<std::uint8_t>>& Records() const { return records; }

private:
    std::string text;
    std::size_t lines = 0;
    std::vector<std::vector<std::uint8_t>> records;
};

// A firmware image of dataBytes bytes (a pattern) in records of recordBytes, loaded from device
// address 0x1D000000 with extended linear address records, ended by an end-of-file record.
HexFileWriter MakeFirmware(std::size_t dataBytes, std::size_t recordBytes = 16,
                           std::uint32_t seed = 1);

} // namespace ostrel::test
