#include "sim/CommandDeframer.h"
#include "sim/ReplyFramer.h"
#include "tests/support/Bytes.h"
#include "tests/support/TestFrames.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ostrel::sim {
namespace {

using test::Bytes;
using test::HexBytes;

struct DeframeCase {
    std::string name;
    std::vector<std::string> datagrams; // fed in order; the last result is checked
    DeframeStatus status;
    std::string payload;
};

class DeframeTest : public ::testing::TestWithParam<DeframeCase> {};

TEST_P(DeframeTest, LastDatagramGivesTheExpectedResult) {
    const DeframeCase& c = GetParam();
    CommandDeframer deframer;
    DeframeResult result;
    for (const auto& datagram : c.datagrams) {
        result = deframer.Feed(HexBytes(datagram));
    }
    EXPECT_EQ(result.status, c.status);
    EXPECT_BYTES_EQ(HexBytes(c.payload), result.payload);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, DeframeTest,
    ::testing::Values(
        DeframeCase{"Erase", {test::eraseFrame}, DeframeStatus::Frame, "02"},
        DeframeCase{
            "QueryWithEscapedCommandAndCrc", {test::queryFrame}, DeframeStatus::Frame, "01"},
        DeframeCase{"VerifyWithEscapes",
                    {"01 10 04 00 00 00 9D 10 10 00 00 00 41 00 B6 03 04"},
                    DeframeStatus::Frame,
                    "04 00 00 00 9D 10 00 00 00 41 00"},
        DeframeCase{
            "StrayBytesBeforeSoh", {"37 30 FF 04 01 02 42 20 04"}, DeframeStatus::Frame, "02"},
        DeframeCase{"StrayDleDoesNotSwallowSoh", {"10 01 02 42 20 04"}, DeframeStatus::Frame, "02"},
        DeframeCase{
            "SecondSohRestartsTheFrame", {"01 05 33 01 02 42 20 04"}, DeframeStatus::Frame, "02"},
        DeframeCase{"BadFrameThenGoodFrameInOneDatagram",
                    {"01 02 00 00 04 01 02 42 20 04"},
                    DeframeStatus::Frame,
                    "02"},
        DeframeCase{"SplitOverTwoDatagrams", {"01 02 42", "20 04"}, DeframeStatus::Frame, "02"},
        DeframeCase{"FirstHalfIsIncomplete", {"01 02 42"}, DeframeStatus::Incomplete, ""},
        DeframeCase{"DleAtTheEndEscapesTheNextDatagram",
                    {"01 10", "01 21 10 10 04"},
                    DeframeStatus::Frame,
                    "01"},
        DeframeCase{"BadCrc", {"01 02 42 21 04"}, DeframeStatus::BadCrc, ""},
        DeframeCase{"CrcBytesSwapped", {"01 02 20 42 04"}, DeframeStatus::BadCrc, ""},
        DeframeCase{"TooShortForCommandAndCrc", {"01 02 42 04"}, DeframeStatus::TooShort, ""},
        DeframeCase{"EmptyFrame", {"01 04"}, DeframeStatus::TooShort, ""},
        DeframeCase{"GoodFrameAfterABadOne",
                    {"01 02 42 21 04", "01 02 42 20 04"},
                    DeframeStatus::Frame,
                    "02"},
        DeframeCase{"GoodFrameAfterAnAbandonedOne",
                    {"01 03 03 03", "01 02 42 20 04"},
                    DeframeStatus::Frame,
                    "02"},
        DeframeCase{"WakeStringIsNoFrame", {"37 30 38 31 34"}, DeframeStatus::NoFrame, ""},
        DeframeCase{"EmptyDatagram", {""}, DeframeStatus::NoFrame, ""}),
    [](const auto& param) { return param.param.name; });

TEST(CommandDeframerTest, EscapedControlBytesAreData) {
    // Payload with every control byte inside, framed by the tests' own encoder.
    const Bytes payload = HexBytes("03 01 04 10 01 10 04");
    CommandDeframer deframer;
    const auto result = deframer.Feed(test::EncodeTestFrame(payload));
    ASSERT_EQ(result.status, DeframeStatus::Frame);
    EXPECT_BYTES_EQ(payload, result.payload);
}

TEST(CommandDeframerTest, RandomPayloadsSurviveFramingWholeAndSplit) {
    std::mt19937 random(11);
    CommandDeframer deframer;
    for (int round = 0; round < 300; ++round) {
        Bytes payload(1 + random() % 600);
        for (auto& b : payload) {
            b = static_cast<std::uint8_t>(random());
        }
        const Bytes frame = test::EncodeTestFrame(payload);
        const std::size_t cut = random() % (frame.size() + 1);
        const Bytes first(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(cut));
        const Bytes second(frame.begin() + static_cast<std::ptrdiff_t>(cut), frame.end());
        auto result = deframer.Feed(first);
        if (cut < frame.size()) {
            ASSERT_NE(result.status, DeframeStatus::Frame) << "round " << round;
            result = deframer.Feed(second);
        }
        ASSERT_EQ(result.status, DeframeStatus::Frame) << "round " << round << " cut " << cut;
        ASSERT_PRED_FORMAT2(test::BytesEqual, payload, result.payload);
    }
}

TEST(CommandDeframerTest, OverlongFrameIsRefusedAndTheNextOneTaken) {
    CommandDeframer deframer;
    Bytes huge(CommandDeframer::MAX_BODY + 10, 0x55);
    huge.insert(huge.begin(), 0x01);
    huge.push_back(0x04);
    EXPECT_EQ(deframer.Feed(huge).status, DeframeStatus::TooLong);

    const auto next = deframer.Feed(HexBytes(test::eraseFrame));
    EXPECT_EQ(next.status, DeframeStatus::Frame);
    EXPECT_BYTES_EQ(HexBytes("02"), next.payload);
}

TEST(CommandDeframerTest, LargestFrameIsAccepted) {
    const Bytes payload(CommandDeframer::MAX_BODY - 2, 0x03);
    CommandDeframer deframer;
    const auto result = deframer.Feed(test::EncodeTestFrame(payload));
    EXPECT_EQ(result.status, DeframeStatus::Frame);
    EXPECT_EQ(result.payload.size(), payload.size());
}

TEST(CommandDeframerTest, ResetForgetsAStartedFrame) {
    CommandDeframer deframer;
    EXPECT_EQ(deframer.Feed(HexBytes("01 02 42")).status, DeframeStatus::Incomplete);
    deframer.Reset();
    EXPECT_EQ(deframer.Feed(HexBytes("20 04")).status, DeframeStatus::NoFrame);
}

struct ReplyCase {
    std::string name;
    std::string payload;
    std::string frame;
};

class ReplyFramerTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyFramerTest, FramesByteExact) {
    EXPECT_BYTES_EQ(HexBytes(GetParam().frame), FrameReply(HexBytes(GetParam().payload)));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyFramerTest,
    ::testing::Values(ReplyCase{"Erase", "02", "01 02 42 20 04"},
                      ReplyCase{"Program", "03", "01 03 63 30 04"},
                      ReplyCase{"QueryCommandAndCrcHighEscaped", "01", "01 10 01 21 10 10 04"},
                      ReplyCase{"VerifyWithEscapedCommand", "04 41 00", "01 10 04 41 00 3D E2 04"},
                      ReplyCase{"EscapedDataBytes", "03 10 01 04",
                                "01 03 10 10 10 01 10 04 0A AB 04"}),
    [](const auto& param) { return param.param.name; });

TEST(ReplyFramerTest, RandomRepliesDecodeWithTheTestsDecoder) {
    std::mt19937 random(5);
    for (int round = 0; round < 300; ++round) {
        Bytes payload(1 + random() % 40);
        for (auto& b : payload) {
            b = static_cast<std::uint8_t>(random() % 4 == 0 ? 0x10 : random());
        }
        const auto decoded = test::DecodeTestFrame(FrameReply(payload));
        ASSERT_TRUE(decoded.has_value()) << "round " << round;
        ASSERT_PRED_FORMAT2(test::BytesEqual, payload, *decoded);
    }
}

TEST(ReplyFramerTest, NeverBuildsADatagramOverTheLimit) {
    // Every byte escaped: 121 payload bytes need 242 + CRC + SOH/EOT, more than a reply may have.
    EXPECT_TRUE(FrameReply(Bytes(121, 0x10)).empty());
    const auto fits = FrameReply(Bytes(100, 0x10));
    EXPECT_FALSE(fits.empty());
    EXPECT_LE(fits.size(), MAX_REPLY_DATAGRAM);
}

} // namespace
} // namespace ostrel::sim
