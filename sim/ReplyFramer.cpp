#include "sim/ReplyFramer.h"

#include "image/Crc16.h"
#include "sim/FrameControl.h"

namespace ostrel::sim {

std::vector<std::uint8_t> FrameReply(std::span<const std::uint8_t> payload) {
    const std::uint16_t crc = Crc16(payload);
    std::vector<std::uint8_t> frame;
    frame.reserve(2 * payload.size() + 6);
    frame.push_back(SOH);
    const auto append = [&frame](std::uint8_t byte) {
        if (byte == SOH || byte == EOT || byte == DLE) {
            frame.push_back(DLE);
        }
        frame.push_back(byte);
    };
    for (const std::uint8_t byte : payload) {
        append(byte);
    }
    append(static_cast<std::uint8_t>(crc & 0xFF));
    append(static_cast<std::uint8_t>(crc >> 8));
    frame.push_back(EOT);
    if (frame.size() > MAX_REPLY_DATAGRAM) {
        return {};
    }
    return frame;
}

} // namespace ostrel::sim
