#include "tests/support/TestFrames.h"

namespace ostrel::test {

std::uint16_t BitwiseCrc16(std::span<const std::uint8_t> data) {
    std::uint16_t crc = 0;
    for (const std::uint8_t byte : data) {
        crc ^= static_cast<std::uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<std::uint16_t>(crc << 1);
        }
    }
    return crc;
}

std::vector<std::uint8_t> EncodeTestFrame(std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> body(payload.begin(), payload.end());
    const std::uint16_t crc = BitwiseCrc16(payload);
    body.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    body.push_back(static_cast<std::uint8_t>(crc >> 8));
    std::vector<std::uint8_t> frame = {0x01};
    for (const std::uint8_t byte : body) {
        if (byte == 0x01 || byte == 0x04 || byte == 0x10) {
            frame.push_back(0x10);
        }
        frame.push_back(byte);
    }
    frame.push_back(0x04);
    return frame;
}

std::optional<std::vector<std::uint8_t>> DecodeTestFrame(std::span<const std::uint8_t> datagram) {
    if (datagram.size() < 2 || datagram.front() != 0x01 || datagram.back() != 0x04) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> body;
    for (std::size_t i = 1; i + 1 < datagram.size(); ++i) {
        if (datagram[i] == 0x10) {
            ++i;
        } else if (datagram[i] == 0x01 || datagram[i] == 0x04) {
            return std::nullopt; // an unescaped control byte inside the frame
        }
        if (i + 1 >= datagram.size()) {
            return std::nullopt;
        }
        body.push_back(datagram[i]);
    }
    if (body.size() < 3) {
        return std::nullopt;
    }
    const std::uint16_t crc = static_cast<std::uint16_t>(body[body.size() - 2] | body.back() << 8);
    body.resize(body.size() - 2);
    if (BitwiseCrc16(body) != crc) {
        return std::nullopt;
    }
    return body;
}

std::vector<std::vector<std::uint8_t>> SplitRecords(std::span<const std::uint8_t> programPayload) {
    std::vector<std::vector<std::uint8_t>> records;
    std::size_t pos = 1; // after the command byte
    while (pos < programPayload.size()) {
        const std::size_t length = std::size_t{programPayload[pos]} + 5;
        const std::size_t end = std::min(pos + length, programPayload.size());
        records.emplace_back(programPayload.begin() + static_cast<std::ptrdiff_t>(pos),
                             programPayload.begin() + static_cast<std::ptrdiff_t>(end));
        pos = end;
    }
    return records;
}

} // namespace ostrel::test
