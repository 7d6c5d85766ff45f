#pragma once

#include "image/TextFile.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace ostrel {

// The Intel HEX file of one update, served record by record (for program frames) and as a flat
// image of the module's program memory (for verification).
class HexImage {
public:
    static constexpr std::uint32_t imageSize = 0x500000;
    static constexpr std::uint32_t imageBase = 0x9D000000;
    static constexpr std::uint32_t segmentBit = 0x80000000;
    static constexpr std::uint32_t exclusionLimit = 0x9FC00000; // the boot region and above
    static constexpr std::size_t countReadLimit = 255;
    static constexpr std::size_t buildReadLimit = 255;
    static constexpr std::size_t frameReadLimit = 995;
    // Most bytes one line read with a given limit can decode to.
    static constexpr std::size_t MaxDecodedBytes(std::size_t maxChars) {
        return (maxChars - 2) / 2;
    }

    struct BuildResult {
        std::uint32_t start = 0;  // lowest used device address, aligned down to 4
        std::uint32_t length = 0; // used range, aligned up to 4
        std::uint16_t crc = 0;    // CRC-16 of that range of the image
    };

    // What a build left out, for a user to see before flashing. The build reads record lines
    // only, so a record's ordinal among the lines it read is its line number in the file.
    struct BuildReport {
        std::uint32_t recordLines = 0; // lines taken in before the first line that is not a record
        std::uint32_t bootRegionRecords = 0;
        std::uint32_t firstBootRegionLine = 0;
        std::uint32_t outsideRecords = 0; // data records beside the program memory
        std::uint32_t firstOutsideLine = 0;
    };

    HexImage();

    // Opens the file and counts its lines; the file stays open, positioned at its end.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return file.IsOpen(); }
    bool Rewind();

    // Decodes the next line into dest if it begins with ':'; 0 at the end of the file and for
    // any other line, which is consumed all the same. Never writes beyond dest.
    std::uint16_t ReadRecord(std::span<std::uint8_t> dest, std::size_t maxChars);

    // Rebuilds the whole image from the start of the file and reports its used range, and, when
    // asked, what it left out.
    BuildResult Build(BuildReport* report = nullptr);
    // No further line can be read.
    bool AtEnd() const { return !file.IsOpen() || file.AtEnd(); }

    std::uint32_t LineCount() const { return lineCount; }
    std::uint32_t LinesRead() const { return linesRead.load(std::memory_order_relaxed); }
    // The image of the last build; empty before the first.
    std::span<const std::uint8_t> Image() const {
        return image ? std::span<const std::uint8_t>(image.get(), imageSize)
                     : std::span<const std::uint8_t>();
    }

private:
    // What a build knows between its records: the address bases, the range it has filled, and
    // the records it could not use.
    struct BuildPass {
        BuildReport& report;
        std::uint32_t firstLine; // LinesRead() when the build began
        std::uint32_t lowest = 0xFFFFFFFF;
        std::uint32_t highestEnd = 0;
        std::uint32_t segmentBase = 0;
        std::uint32_t linearBase = 0;
    };

    // One decoded record of a build: data stored, an address base moved, or nothing.
    void BuildRecord(BuildPass& pass, std::span<const std::uint8_t> record);
    // False when the data lie beside the image, and then nothing is stored.
    bool StoreDataRecord(std::uint32_t address, std::span<const std::uint8_t> data,
                         std::uint32_t& lowest, std::uint32_t& highestEnd);

    TextFile file;
    std::uint32_t lineCount = 0;
    std::atomic<std::uint32_t> linesRead{0}; // advanced by the link's worker, read for progress
    std::unique_ptr<std::uint8_t[]> image;
    std::array<char, 1000> lineBuffer{};
};

} // namespace ostrel
