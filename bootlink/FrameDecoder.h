#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace ostrel {

// Recovers reply frames from received bytes. Its state carries over from one datagram to the
// next, so a frame (or an escape) split across datagrams is put together again.
class FrameDecoder {
public:
    static constexpr std::size_t capacity = 256;
    static constexpr std::uint16_t restartLength = 253; // a longer frame starts over
    static constexpr std::uint16_t crcSize = 2;

    // Stops at the end of the first good frame; the rest of the bytes are not looked at.
    void DecodeBytes(std::span<const std::uint8_t> bytes);

    bool FrameReady() const { return frameReady; }
    // The decoded frame: command byte, reply data, CRC low and high byte.
    std::span<const std::uint8_t> Frame() const { return {rxFrame.data(), rxLength}; }
    // The reply data: what lies between the command byte and the CRC.
    std::span<const std::uint8_t> ReplyData() const;
    void ClearFrameReady() { frameReady = false; }

private:
    void Store(std::uint8_t byte);

    std::array<std::uint8_t, capacity> rxFrame{};
    std::uint16_t rxLength = 0;
    bool escapePending = false;
    bool frameReady = false;
};

} // namespace ostrel
