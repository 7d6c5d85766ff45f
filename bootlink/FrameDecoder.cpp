#include "bootlink/FrameDecoder.h"

#include "bootlink/BootCommand.h"
#include "image/Crc16.h"

namespace ostrel {

void FrameDecoder::Store(std::uint8_t byte) {
    rxFrame[rxLength++] = byte;
    escapePending = false;
}

void FrameDecoder::DecodeBytes(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t byte : bytes) {
        if (frameReady) {
            return;
        }
        if (rxLength >= restartLength) {
            rxLength = 0;
        }
        if (escapePending) {
            Store(byte);
        } else if (byte == SOH) {
            rxLength = 0;
        } else if (byte == DLE) {
            escapePending = true;
        } else if (byte == EOT) {
            if (rxLength >= crcSize) {
                const std::uint16_t received =
                    static_cast<std::uint16_t>(rxFrame[rxLength - 2] | rxFrame[rxLength - 1] << 8);
                const std::uint16_t computed = Crc16(std::span(rxFrame.data(), rxLength - crcSize));
                frameReady = received == computed && rxLength > crcSize;
            }
        } else {
            Store(byte);
        }
    }
}

std::span<const std::uint8_t> FrameDecoder::ReplyData() const {
    if (rxLength <= 1 + crcSize) {
        return {};
    }
    return {rxFrame.data() + 1, static_cast<std::size_t>(rxLength - 1 - crcSize)};
}

} // namespace ostrel
