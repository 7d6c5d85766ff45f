#include "image/HexImage.h"

#include "image/Crc16.h"

#include <algorithm>
#include <cstring>

namespace ostrel {

namespace {

constexpr std::uint8_t notHex = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeHexDigitTable() {
    std::array<std::uint8_t, 256> table{};
    table.fill(notHex);
    for (int i = 0; i < 10; ++i) {
        table['0' + i] = static_cast<std::uint8_t>(i);
    }
    for (int i = 0; i < 6; ++i) {
        table['A' + i] = static_cast<std::uint8_t>(10 + i);
        table['a' + i] = static_cast<std::uint8_t>(10 + i);
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> hexDigit = MakeHexDigitTable();

// A pair reads as a hexadecimal number that ends at the first character that is not a digit.
std::uint8_t DecodePair(char first, char second) {
    const std::uint8_t high = hexDigit[static_cast<unsigned char>(first)];
    if (high == notHex) {
        return 0;
    }
    const std::uint8_t low = hexDigit[static_cast<unsigned char>(second)];
    return low == notHex ? high : static_cast<std::uint8_t>(high << 4 | low);
}

constexpr std::size_t recordHeaderSize = 4; // length, offset high, offset low, type

enum RecordType : std::uint8_t {
    dataRecord = 0,
    extendedSegmentAddress = 2,
    extendedLinearAddress = 4,
};

// The first two data bytes of an address record, big-endian; bytes the line lacks read as 0.
std::uint32_t AddressWord(std::span<const std::uint8_t> data) {
    const std::uint32_t high = data.size() > 0 ? data[0] : 0;
    const std::uint32_t low = data.size() > 1 ? data[1] : 0;
    return high << 8 | low;
}

} // namespace

HexImage::HexImage() = default;

bool HexImage::Open(const std::string& path) {
    lineCount = 0;
    linesRead = 0;
    if (!file.Open(path)) {
        return false;
    }
    std::array<char, 256> scratch{};
    while (!file.AtEnd()) {
        if (file.ReadLine(std::span(scratch.data(), countReadLimit)) > 0) {
            ++lineCount;
        }
    }
    return true;
}

void HexImage::Close() {
    file.Close();
}

bool HexImage::Rewind() {
    if (!file.Rewind()) {
        return false;
    }
    linesRead = 0;
    return true;
}

std::uint16_t HexImage::ReadRecord(std::span<std::uint8_t> dest, std::size_t maxChars) {
    if (!file.IsOpen() || file.AtEnd()) {
        return 0;
    }
    maxChars = std::min(maxChars, lineBuffer.size());
    if (file.ReadLine(std::span(lineBuffer.data(), maxChars)) == 0 || lineBuffer[0] != ':') {
        return 0;
    }
    // The line is NUL-terminated, so a pair never reaches past it.
    std::size_t count = 0;
    for (std::size_t i = 1; count < dest.size(); i += 2) {
        if (lineBuffer[i] == '\0' || lineBuffer[i + 1] == '\0') {
            break;
        }
        dest[count++] = DecodePair(lineBuffer[i], lineBuffer[i + 1]);
    }
    linesRead.fetch_add(1, std::memory_order_relaxed);
    return static_cast<std::uint16_t>(count);
}

bool HexImage::StoreDataRecord(std::uint32_t address, std::span<const std::uint8_t> data,
                               std::uint32_t& lowest, std::uint32_t& highestEnd) {
    // Outside the image nothing is stored and the used range is not widened.
    const std::uint64_t end = std::uint64_t{address} + data.size();
    if (address < imageBase || end > std::uint64_t{imageBase} + imageSize) {
        return false;
    }
    lowest = std::min(lowest, address);
    highestEnd = std::max(highestEnd, static_cast<std::uint32_t>(end));
    std::copy(data.begin(), data.end(), image.get() + (address - imageBase));
    return true;
}

void HexImage::BuildRecord(BuildPass& pass, std::span<const std::uint8_t> record) {
    const auto note = [&](std::uint32_t& count, std::uint32_t& firstLine) {
        if (count++ == 0) {
            firstLine = LinesRead() - pass.firstLine;
        }
    };
    // Data and checksum as far as the line holds them.
    const auto body = record.subspan(recordHeaderSize);
    switch (record[3]) {
    case dataRecord: {
        const std::uint32_t offset = std::uint32_t{record[1]} << 8 | record[2];
        const std::uint32_t address = (pass.segmentBase + pass.linearBase + offset) | segmentBit;
        if (address >= exclusionLimit) {
            note(pass.report.bootRegionRecords, pass.report.firstBootRegionLine);
        } else if (!StoreDataRecord(address,
                                    body.first(std::min<std::size_t>(record[0], body.size())),
                                    pass.lowest, pass.highestEnd)) {
            note(pass.report.outsideRecords, pass.report.firstOutsideLine);
        }
        break;
    }
    case extendedSegmentAddress:
        pass.segmentBase = AddressWord(body) * 16;
        pass.linearBase = 0;
        break;
    case extendedLinearAddress:
        pass.linearBase = AddressWord(body) << 16;
        pass.segmentBase = 0;
        break;
    default: // end of file, start addresses and anything else; reading goes on
        pass.segmentBase = 0;
        pass.linearBase = 0;
        break;
    }
}

HexImage::BuildResult HexImage::Build(BuildReport* report) {
    BuildReport unused;
    BuildReport& left = report != nullptr ? *report : unused;
    left = {};
    // Allocated on the first build only: a link that never verifies (the console gives it the
    // range) needs no 5 MiB, which counts when hundreds of links run side by side.
    if (!image) {
        image = std::make_unique_for_overwrite<std::uint8_t[]>(imageSize);
    }
    std::memset(image.get(), 0xFF, imageSize);
    if (!file.Rewind()) {
        return {};
    }
    // The build does not reset the count of records read; its own lines count from here.
    BuildPass pass{left, LinesRead()};
    std::array<std::uint8_t, 256> record{};
    while (const std::uint16_t decoded = ReadRecord(record, buildReadLimit)) {
        if (decoded >= recordHeaderSize) { // shorter: no type to act on
            BuildRecord(pass, std::span<const std::uint8_t>(record).first(decoded));
        }
    }
    left.recordLines = LinesRead() - pass.firstLine;
    if (pass.lowest > pass.highestEnd) {
        return {}; // no data record stored: no used range
    }
    BuildResult result;
    result.start = pass.lowest & ~3u;
    result.length = ((pass.highestEnd + 3u) & ~3u) - result.start;
    result.crc = Crc16(std::span(image.get() + (result.start - imageBase), result.length));
    return result;
}

} // namespace ostrel
