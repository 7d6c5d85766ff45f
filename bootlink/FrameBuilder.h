#pragma once

#include "bootlink/BootCommand.h"
#include "image/HexImage.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ostrel {

// Builds the escaped, CRC-checked frame of one command. Program frames take the next records
// of the HEX file; they never outgrow the 1000-byte buffers: a record that would not fit is
// kept back and opens the next frame.
class FrameBuilder {
public:
    static constexpr std::size_t bufferSize = 1000;
    static constexpr int recordsPerFrame = 11;

    // False when no frame could be built; then there is nothing to send. A Verify frame carries
    // the image's range and CRC: the known one when given, else one built from the file.
    bool Build(BootCommand command, HexImage& image, bool restartProgram,
               const std::optional<HexImage::BuildResult>& knownRange = std::nullopt);

    // A frame built before, by a builder of the same file, becomes this one's.
    void Use(std::span<const std::uint8_t> frame);
    std::span<const std::uint8_t> Frame() const { return {txFrame.data(), txLength}; }

private:
    bool BuildProgramPayload(HexImage& image, bool restartProgram);
    bool Fits(std::span<const std::uint8_t> record) const;
    void Append(std::span<const std::uint8_t> bytes);
    void Encode();

    std::array<std::uint8_t, bufferSize> payload{};
    std::size_t payloadLength = 0;
    std::size_t payloadEscapes = 0; // payload bytes that need a DLE on the wire
    std::array<std::uint8_t, bufferSize> txFrame{};
    std::uint16_t txLength = 0;
    std::vector<std::uint8_t> heldRecord; // read, but did not fit into the last frame
};

} // namespace ostrel
