#include "image/Crc16.h"

#include "tests/support/TestFrames.h"

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
using test::BitwiseCrc16;

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
        EXPECT_EQ(Crc16(byte), BitwiseCrc16(byte)) << value;
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
        ASSERT_EQ(Crc16(data), BitwiseCrc16(data)) << "length " << data.size();
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
