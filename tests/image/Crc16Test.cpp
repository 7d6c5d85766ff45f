#include "image/Crc16.h"

#include <random>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

std::uint16_t CrcOfText(std::string_view text) {
    return Crc16({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

// The textbook bit-at-a-time CRC-16/XMODEM, written independently of the table.
std::uint16_t BitwiseCrc(std::span<const std::uint8_t> data) {
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

TEST(Crc16Test, PublishedVectors) {
    EXPECT_EQ(Crc16({}), 0x0000);
    EXPECT_EQ(CrcOfText("abc"), 0x9DD6);
    EXPECT_EQ(CrcOfText("123456789"), 0x31C3);
    const std::uint8_t three[] = {0x03};
    const std::uint8_t five[] = {0x05};
    EXPECT_EQ(Crc16(three), 0x3063);
    EXPECT_EQ(Crc16(five), 0x50A5);
}

TEST(Crc16Test, EverySingleByteMatchesTheBitwiseCrc) {
    for (int value = 0; value < 256; ++value) {
        const std::uint8_t byte[] = {static_cast<std::uint8_t>(value)};
        EXPECT_EQ(Crc16(byte), BitwiseCrc(byte)) << value;
    }
}

TEST(Crc16Test, RandomBuffersMatchTheBitwiseCrc) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<std::size_t> length(0, 4096);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> data(length(random));
        for (auto& b : data) {
            b = static_cast<std::uint8_t>(byte(random));
        }
        ASSERT_EQ(Crc16(data), BitwiseCrc(data)) << "length " << data.size();
    }
}

TEST(Crc16Test, AppendingTheCrcHighByteFirstGivesZero) {
    // The property a receiver may use to check a frame in one pass.
    std::vector<std::uint8_t> data = {0x04, 0x00, 0x00, 0x00, 0x9D, 0x10};
    const std::uint16_t crc = Crc16(data);
    data.push_back(static_cast<std::uint8_t>(crc >> 8));
    data.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    EXPECT_EQ(Crc16(data), 0);
}

} // namespace
} // namespace ostrel
