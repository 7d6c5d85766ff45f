// Whole updates through the link against modules that answer twice: a duplicated reply (as a
// switch or a wireless bridge can make one), or a late answer to a copy that was resent.
#include "tests/support/FakeBootloader.h"
#include "tests/support/FlashCheck.h"
#include "tests/support/HeadlessUpdate.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <arpa/inet.h>
#include <cstdio>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t programCode = 3;
constexpr std::uint8_t verifyCode = 4;

DeviceAddress AddressOf(const char* text) {
    in_addr address{};
    ::inet_pton(AF_INET, text, &address);
    return ntohl(address.s_addr);
}

class EchoedReplyTest : public ::testing::Test {
protected:
    std::string Firmware(std::size_t bytes) {
        const auto hex = test::MakeFirmware(bytes, 16);
        frames = (hex.LineCount() + 10) / 11; // every line a record, 11 to a frame
        path = dir.Write("firmware.hex", hex.Text());
        return path;
    }
    bool FlashHoldsTheImage(std::span<const std::uint8_t> flash) const {
        return test::FlashHoldsTheImage(flash, path);
    }

    test::TempDir dir;
    std::string path;
    std::size_t frames = 0;
};

TEST_F(EchoedReplyTest, EveryReplyTwiceStillSendsEachFrameOnceAndOneVerify) {
    const char* address = "127.0.31.1";
    test::FakeBootloader module({.copies = 2}, address);
    test::HeadlessUpdate update(Firmware(64 * 1024), AddressOf(address));
    const auto result = update.Run(1ms, 60s);
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, UpdateResult::Ok) << ::testing::PrintToString(update.Messages());
    EXPECT_EQ(module.FramesReceived(programCode), frames) << "one Program frame per frame";
    EXPECT_EQ(module.FramesReceived(verifyCode), 1u);
    EXPECT_TRUE(FlashHoldsTheImage(module.Flash()));
}

TEST_F(EchoedReplyTest, LateAnswersToResentFramesNeverGiveSuccessWithAWrongFlash) {
    const char* address = "127.0.31.2";
    test::FakeBootloader module({.lateEvery = 10, .lateBy = 600ms}, address);
    test::HeadlessUpdate update(Firmware(8 * 1024), AddressOf(address));
    const auto result = update.Run(1ms, 60s);
    ASSERT_TRUE(result) << "the update ends";
    const bool verified = FlashHoldsTheImage(module.Flash());
    std::printf("late answers: %s, flash %s, messages %s\n",
                *result == UpdateResult::Ok ? "done" : "failed", verified ? "right" : "wrong",
                ::testing::PrintToString(update.Messages()).c_str());
    if (*result == UpdateResult::Ok) {
        EXPECT_TRUE(verified) << "success with a wrong flash";
        EXPECT_TRUE(update.Messages().empty());
    } else {
        EXPECT_EQ(update.Messages(), std::vector<std::string>{"Programming Failed!"});
    }
}

// The simulator with duplicated replies, alone and with random loss, over several seeds.
struct SimFaults {
    const char* name;
    std::vector<std::string> args;
};

void PrintTo(const SimFaults& faults, std::ostream* out) {
    *out << faults.name;
}

class EchoedReplySimTest : public EchoedReplyTest,
                           public ::testing::WithParamInterface<SimFaults> {};

TEST_P(EchoedReplySimTest, EndsVerifiedOrFailedNeverWrong) {
    test::SimProcess sim(test::SimAt("127.0.31.10", GetParam().args));
    test::HeadlessUpdate update(Firmware(16 * 1024), AddressOf("127.0.31.10"));
    const auto result = update.Run(1ms, 120s);
    ASSERT_TRUE(result) << "the update ends";
    ASSERT_EQ(sim.Stop(), 0);
    const bool verified = FlashHoldsTheImage(sim.Flash());
    const std::size_t programs = sim.LogLines("boot", "Program").size();
    const std::size_t verifies = sim.LogLines("boot", "Verify").size();
    std::printf("%-24s %s, flash %s, %zu Program for %zu frames, %zu Verify\n", GetParam().name,
                *result == UpdateResult::Ok ? "done" : "failed", verified ? "right" : "wrong",
                programs, frames, verifies);
    if (*result == UpdateResult::Ok) {
        EXPECT_TRUE(verified) << "success with a wrong flash";
    } else {
        EXPECT_EQ(update.Messages(), std::vector<std::string>{"Programming Failed!"});
    }
    if (GetParam().args.size() == 1) { // duplicates alone: nothing is lost, nothing resent
        EXPECT_EQ(*result, UpdateResult::Ok);
        EXPECT_EQ(programs, frames);
        EXPECT_EQ(verifies, 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EchoedReplySimTest,
    ::testing::Values(
        SimFaults{"Duplicate", {"--duplicate"}},
        SimFaults{"DuplicateLoss5Seed1", {"--duplicate", "--loss", "0.05", "--seed", "1"}},
        SimFaults{"DuplicateLoss5Seed2", {"--duplicate", "--loss", "0.05", "--seed", "2"}},
        SimFaults{"DuplicateLoss5Seed3", {"--duplicate", "--loss", "0.05", "--seed", "3"}},
        SimFaults{"DuplicateLoss10Seed4", {"--duplicate", "--loss", "0.1", "--seed", "4"}}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
} // namespace ostrel
