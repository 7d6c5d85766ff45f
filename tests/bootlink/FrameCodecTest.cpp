#include "bootlink/FrameBuilder.h"
#include "bootlink/FrameDecoder.h"
#include "image/Crc16.h"
#include "tests/support/Bytes.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestFrames.h"

#include <random>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using test::Bytes;
using test::HexBytes;

class FrameBuilderTest : public ::testing::Test {
protected:
    HexImage& Load(const std::string& text) {
        EXPECT_TRUE(image.Open(dir.Write("firmware.hex", text)));
        return image;
    }
    Bytes Build(BootCommand command, bool restart = true) {
        if (!frames.Build(command, image, restart)) {
            return {};
        }
        const auto frame = frames.Frame();
        return {frame.begin(), frame.end()};
    }
    // The records of the next Program frame, read back with the test's own decoder.
    std::vector<Bytes> NextProgramFrame(bool restart) {
        const Bytes frame = Build(BootCommand::Program, restart);
        if (frame.empty()) {
            return {};
        }
        EXPECT_LE(frame.size(), FrameBuilder::bufferSize);
        const auto payload = test::DecodeTestFrame(frame);
        EXPECT_TRUE(payload.has_value());
        EXPECT_EQ(payload->at(0), 0x03);
        return test::SplitRecords(*payload);
    }

    test::TempDir dir;
    HexImage image;
    FrameBuilder frames;
};

TEST_F(FrameBuilderTest, SimpleCommandsEncodeByteExact) {
    EXPECT_BYTES_EQ(HexBytes(test::eraseFrame), Build(BootCommand::Erase));
    EXPECT_BYTES_EQ(HexBytes(test::runFrame), Build(BootCommand::Run));
    // The command byte 0x01 and the CRC's high byte 0x10 are both escaped.
    EXPECT_BYTES_EQ(HexBytes(test::queryFrame), Build(BootCommand::Query));
}

TEST_F(FrameBuilderTest, UnknownCommandBuildsNothing) {
    EXPECT_FALSE(frames.Build(static_cast<BootCommand>(0), image, true));
    EXPECT_FALSE(frames.Build(static_cast<BootCommand>(6), image, true));
}

TEST_F(FrameBuilderTest, VerifyCarriesRangeAndCrcLowByteFirst) {
    // Sixteen bytes at 0x9D000000 whose CRC is 0x0041: the last two bytes are solved for.
    Bytes data = HexBytes("00 11 22 33 44 55 66 77 88 99 AA BB CC DD 00 00");
    for (int value = 0; value < 0x10000; ++value) {
        data[14] = static_cast<std::uint8_t>(value >> 8);
        data[15] = static_cast<std::uint8_t>(value);
        if (Crc16(data) == 0x0041) {
            break;
        }
    }
    ASSERT_EQ(Crc16(data), 0x0041);
    test::HexFileWriter hex;
    hex.ExtendedLinear(0x1D00);
    hex.Data(0x0000, data);
    hex.EndOfFile();
    Load(hex.Text());
    EXPECT_BYTES_EQ(HexBytes("01 10 04 00 00 00 9D 10 10 00 00 00 41 00 B6 03 04"),
                    Build(BootCommand::Verify));
}

TEST_F(FrameBuilderTest, ProgramFramesCarryElevenRecordsEach) {
    test::HexFileWriter hex;
    hex.ExtendedLinear(0x1D00);
    for (std::uint16_t i = 0; i < 23; ++i) {
        const Bytes data(16, static_cast<std::uint8_t>(i));
        hex.Data(static_cast<std::uint16_t>(i * 16), data);
    }
    hex.EndOfFile();
    ASSERT_EQ(hex.LineCount(), 25u);
    Load(hex.Text());

    std::vector<Bytes> sent;
    for (bool restart = true;; restart = false) {
        const auto records = NextProgramFrame(restart);
        if (records.empty()) {
            break;
        }
        sent.insert(sent.end(), records.begin(), records.end());
        EXPECT_EQ(records.size(), sent.size() <= 22 ? 11u : 3u);
    }
    EXPECT_EQ(sent, hex.Records()) << "every record once, in file order";
    // A fresh sequence starts again at the top of the file.
    EXPECT_EQ(NextProgramFrame(true).front(), hex.Records().front());
}

TEST_F(FrameBuilderTest, BlankLinesEndOrAreSkipped) {
    Load("\n:020000041D00DD\n");
    EXPECT_TRUE(Build(BootCommand::Program).empty()) << "a blank first line builds no frame";

    Load(":020000041D00DD\n\n:0400000001020304F2\n");
    const auto records = NextProgramFrame(true);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_BYTES_EQ(HexBytes("04 00 00 00 01 02 03 04 F2"), records[1]);
}

TEST_F(FrameBuilderTest, ProgramWithoutFileBuildsNothing) {
    EXPECT_TRUE(Build(BootCommand::Program).empty());
}

TEST_F(FrameBuilderTest, LongRecordsGoIntoTheNextFrame) {
    // Records of 255 data bytes that all need escaping: one fills half a frame.
    test::HexFileWriter hex;
    hex.ExtendedLinear(0x1D00);
    const Bytes data(255, 0x10);
    for (std::uint16_t i = 0; i < 12; ++i) {
        hex.Data(static_cast<std::uint16_t>(i * 255), data);
    }
    hex.EndOfFile();
    Load(hex.Text());

    std::vector<Bytes> sent;
    int frameCount = 0;
    for (bool restart = true;; restart = false) {
        const auto records = NextProgramFrame(restart);
        if (records.empty()) {
            break;
        }
        ++frameCount;
        sent.insert(sent.end(), records.begin(), records.end());
    }
    EXPECT_EQ(frameCount, 12);
    EXPECT_EQ(sent, hex.Records()) << "every record once, in file order";
}

TEST_F(FrameBuilderTest, LongestLinesFillAFrameEach) {
    // The frame limit reads 992 digits at most; as 0x10 bytes each needs an escape.
    std::string line = ":";
    for (int i = 0; i < 496; ++i) {
        line += "10";
    }
    Load(line + "\n" + line + "\n");
    Bytes expected = {0x03};
    expected.insert(expected.end(), 496, 0x10);
    for (bool restart : {true, false}) {
        const Bytes frame = Build(BootCommand::Program, restart);
        ASSERT_FALSE(frame.empty());
        EXPECT_LE(frame.size(), FrameBuilder::bufferSize);
        const auto payload = test::DecodeTestFrame(frame);
        ASSERT_TRUE(payload.has_value());
        EXPECT_BYTES_EQ(expected, *payload);
    }
    EXPECT_TRUE(Build(BootCommand::Program, false).empty());
}

struct DecodeCase {
    const char* name;
    std::vector<Bytes> datagrams;
    bool ready;
    Bytes frame; // rxFrame when ready
};

class FrameDecoderTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(FrameDecoderTest, Decodes) {
    FrameDecoder decoder;
    for (const Bytes& datagram : GetParam().datagrams) {
        decoder.DecodeBytes(datagram);
    }
    EXPECT_EQ(decoder.FrameReady(), GetParam().ready);
    if (GetParam().ready && !GetParam().frame.empty()) {
        EXPECT_BYTES_EQ(GetParam().frame, decoder.Frame());
    }
}

Bytes LongReply(std::size_t decodedLength) {
    // Command byte 0x04, data bytes without control values, then the CRC: decodedLength in all.
    Bytes payload(decodedLength - 2, 0x55);
    payload[0] = 0x04;
    return test::EncodeTestFrame(payload);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameDecoderTest,
    ::testing::Values(DecodeCase{"VerifyReply",
                                 {HexBytes("01 10 04 41 00 3D E2 04")},
                                 true,
                                 HexBytes("04 41 00 3D E2")},
                      DecodeCase{"WrongCrc", {HexBytes("01 10 04 41 00 3D E3 04")}, false, {}},
                      DecodeCase{"TooShort", {HexBytes("01 00 00 04")}, false, {}},
                      DecodeCase{"EmptyFrame", {HexBytes("01 04")}, false, {}},
                      DecodeCase{"StrayBytesBeforeSoh",
                                 {HexBytes("33 44 10 01 55 01 02 42 20 04")},
                                 true,
                                 HexBytes("02 42 20")},
                      DecodeCase{"EscapedControlBytesAreData",
                                 {test::EncodeTestFrame(HexBytes("03 01 04 10"))},
                                 true,
                                 {}},
                      DecodeCase{"SplitAcrossDatagrams",
                                 {HexBytes("01 10 04 41"), HexBytes("00 3D E2 04")},
                                 true,
                                 HexBytes("04 41 00 3D E2")},
                      DecodeCase{"DleEndsOneDatagramEscapesTheNext",
                                 {HexBytes("01 10"), HexBytes("04 41 00 3D E2 04")},
                                 true,
                                 HexBytes("04 41 00 3D E2")},
                      DecodeCase{"SecondFrameInDatagramIsNotLookedAt",
                                 {HexBytes("01 02 42 20 04 01 05 A5 50 04")},
                                 true,
                                 HexBytes("02 42 20")},
                      DecodeCase{"Longest", {LongReply(252)}, true, {}},
                      DecodeCase{"OneByteTooLong", {LongReply(253)}, false, {}}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(FrameDecoderTest, EscapedControlBytesKeepTheirValue) {
    FrameDecoder decoder;
    const Bytes payload = HexBytes("03 01 04 10");
    decoder.DecodeBytes(test::EncodeTestFrame(payload));
    ASSERT_TRUE(decoder.FrameReady());
    EXPECT_BYTES_EQ(HexBytes("01 04 10"), decoder.ReplyData());
}

TEST(FrameDecoderTest, LongestFrameKeepsAllItsData) {
    FrameDecoder decoder;
    decoder.DecodeBytes(LongReply(252));
    ASSERT_TRUE(decoder.FrameReady());
    EXPECT_EQ(decoder.Frame().size(), 252u);
    EXPECT_EQ(decoder.ReplyData().size(), 249u);
}

TEST(FrameDecoderTest, BadFrameBytesStayUntilTheNextSoh) {
    FrameDecoder decoder;
    decoder.DecodeBytes(HexBytes("01 02 42 21 04")); // wrong CRC
    EXPECT_FALSE(decoder.FrameReady());
    decoder.DecodeBytes(HexBytes(test::runFrame));
    ASSERT_TRUE(decoder.FrameReady());
    EXPECT_BYTES_EQ(HexBytes("05 A5 50"), decoder.Frame());
}

TEST(FrameDecoderTest, RandomBytesNeverMakeABadFrameReady) {
    std::mt19937 random(3);
    FrameDecoder decoder;
    for (int round = 0; round < 2000; ++round) {
        Bytes datagram(static_cast<std::size_t>(random() % 300));
        for (auto& b : datagram) {
            b = static_cast<std::uint8_t>(random() % 6); // mostly control bytes
        }
        decoder.DecodeBytes(datagram);
        if (decoder.FrameReady()) {
            const auto frame = decoder.Frame();
            ASSERT_GE(frame.size(), 3u);
            ASSERT_LE(frame.size(), 252u);
            const std::uint16_t crc =
                static_cast<std::uint16_t>(frame[frame.size() - 2] | frame.back() << 8);
            ASSERT_EQ(test::BitwiseCrc16(frame.first(frame.size() - 2)), crc);
            decoder.ClearFrameReady();
        }
    }
}

} // namespace
} // namespace ostrel
