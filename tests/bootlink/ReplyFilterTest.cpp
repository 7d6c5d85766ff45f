#include "bootlink/ReplyFilter.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using Clock = ReplyFilter::Clock;

constexpr std::uint8_t erase = 2;
constexpr std::uint8_t program = 3;
constexpr std::uint8_t verify = 4;

// One step of a link's life: a frame's first send or a resend, a reply on an idle link, or a
// reply while a frame is in flight that must be taken or dropped. Times are microseconds from an
// arbitrary start.
struct Step {
    enum Kind { Send, Resend, Idle, Reply } kind;
    std::uint8_t command;
    long atMicroseconds;
    bool taken = false; // for a reply
};

struct FilterCase {
    const char* name;
    std::vector<Step> steps;
};

class ReplyFilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(ReplyFilterTest, TakesEachFramesOwnAnswerOnce) {
    ReplyFilter filter;
    const Clock::time_point start = Clock::now();
    for (std::size_t i = 0; i < GetParam().steps.size(); ++i) {
        const Step& step = GetParam().steps[i];
        const auto at = start + std::chrono::microseconds(step.atMicroseconds);
        switch (step.kind) {
        case Step::Send:
        case Step::Resend:
            filter.NoteSend(step.command, at, step.kind == Step::Resend);
            break;
        case Step::Idle:
            filter.NoteIdle(step.command, at);
            break;
        case Step::Reply:
            EXPECT_EQ(filter.Accept(step.command, at), step.taken) << "step " << i;
            break;
        }
    }
}

constexpr long ms = 1000;

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyFilterTest,
    ::testing::Values(
        FilterCase{
            "BeforeAnyRoundTripAReplyIsTaken",
            {{Step::Idle, erase, 0}, {Step::Send, program, 0}, {Step::Reply, program, 1, true}}},
        FilterCase{"AReplyNamingAnotherCommandIsDropped",
                   {{Step::Send, verify, 0},
                    {Step::Reply, program, 900},
                    {Step::Reply, erase, 950},
                    {Step::Reply, verify, 1000, true}}},
        FilterCase{"AReplyThatArrivedBeforeTheSendIsAnEcho",
                   {{Step::Send, program, 0},
                    {Step::Reply, program, 40, true},
                    {Step::Send, program, 50},
                    {Step::Reply, program, 41}, // the duplicate, queued before the send
                    {Step::Reply, program, 50},
                    {Step::Reply, program, 90, true}}},
        FilterCase{"WithoutRepeatsTheSpreadOfRoundTripsDropsNothing",
                   {{Step::Send, program, 0},
                    {Step::Reply, program, 55, true}, // an update's first one: cold
                    {Step::Send, program, 100},
                    {Step::Reply, program, 113, true},
                    {Step::Send, program, 200},
                    {Step::Reply, program, 203, true}}},
        FilterCase{"ASlowEraseSaysNothingAboutProgramFrames",
                   {{Step::Idle, erase, 0},
                    {Step::Send, erase, 0},
                    {Step::Reply, erase, 2'000'000, true},
                    {Step::Send, program, 2'000'100},
                    {Step::Reply, program, 2'000'140, true},
                    {Step::Send, program, 2'000'200},
                    {Step::Reply, program, 2'000'230, true}}},
        // 800 ms each way round; the frame was resent at 500 ms, and both copies are answered.
        FilterCase{"OnASlowPathTheResentCopysAnswerIsNeverTheNextFramesAnswer",
                   {{Step::Send, erase, 0},
                    {Step::Reply, erase, 800 * ms, true},
                    {Step::Send, program, 1000 * ms},
                    {Step::Resend, program, 1500 * ms},
                    {Step::Reply, program, 1800 * ms, true},
                    {Step::Send, program, 1800 * ms},
                    {Step::Reply, program, 2300 * ms}, // the resent copy's answer
                    {Step::Reply, program, 2600 * ms, true}}},
        FilterCase{"ThatAnswersCopyFromTheNetworkIsDroppedToo",
                   {{Step::Send, erase, 0},
                    {Step::Reply, erase, 800 * ms, true},
                    {Step::Send, program, 1000 * ms},
                    {Step::Resend, program, 1500 * ms},
                    {Step::Reply, program, 1800 * ms, true},
                    {Step::Send, program, 1800 * ms + 200},
                    {Step::Reply, program, 1800 * ms + 10}, // its copy, before the send
                    {Step::Reply, program, 2300 * ms},
                    {Step::Reply, program, 2300 * ms + 10}, // its copy, after the send
                    {Step::Reply, program, 2600 * ms, true}}},
        FilterCase{"OnAFastPathAResentFrameOwesNothing",
                   {{Step::Send, erase, 0},
                    {Step::Reply, erase, 1 * ms, true},
                    {Step::Send, program, 2 * ms}, // lost
                    {Step::Resend, program, 502 * ms},
                    {Step::Reply, program, 502 * ms + 40, true},
                    {Step::Send, program, 502 * ms + 50},
                    {Step::Reply, program, 502 * ms + 90, true},
                    {Step::Send, program, 800 * ms},
                    {Step::Reply, program, 800 * ms + 40, true}}},
        // Nothing timed yet, so the answer is put to the first copy; the next frame's quick
        // answer shows that the first copy was lost, and the debt goes.
        FilterCase{"AShortRoundTripCancelsTheDebtOfALostCopy",
                   {{Step::Send, program, 0},
                    {Step::Resend, program, 500 * ms},
                    {Step::Reply, program, 500 * ms + 40, true},
                    {Step::Send, program, 500 * ms + 50},
                    {Step::Reply, program, 500 * ms + 90, true},
                    {Step::Send, program, 800 * ms},
                    {Step::Reply, program, 800 * ms + 40, true}}},
        FilterCase{"ADebtNotPaidInTimeExpires",
                   {{Step::Send, program, 0},
                    {Step::Resend, program, 500 * ms},
                    {Step::Reply, program, 800 * ms, true}, // owes: 900..2100 ms
                    {Step::Send, program, 800 * ms},
                    {Step::Resend, program, 1300 * ms},
                    {Step::Resend, program, 1800 * ms},
                    {Step::Reply, program, 2200 * ms, true}}},
        FilterCase{"ALateAnswerWhileIdlePaysItsDebt",
                   {{Step::Send, erase, 0},
                    {Step::Reply, erase, 800 * ms, true},
                    {Step::Send, program, 1000 * ms},
                    {Step::Resend, program, 1500 * ms},
                    {Step::Reply, program, 1800 * ms, true},
                    {Step::Idle, program, 2300 * ms},
                    {Step::Send, program, 2400 * ms},
                    {Step::Reply, program, 2500 * ms, true}}}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(ReplyFilterGuardTest, OnlyAPathThatRepeatsRepliesHoldsTheNextSendBack) {
    ReplyFilter filter;
    const Clock::time_point start = Clock::now();
    filter.NoteSend(program, start, false);
    ASSERT_TRUE(filter.Accept(program, start + 40us));
    EXPECT_EQ(filter.SendHeldFor(start + 41us), Clock::duration::zero());
    filter.NoteIdle(program, start + 41us);
    EXPECT_EQ(filter.SendHeldFor(start + 41us), ReplyFilter::copyGuard - 1us)
        << "the answer's copies get their moment";
    EXPECT_EQ(filter.SendHeldFor(start + 40us + ReplyFilter::copyGuard), Clock::duration::zero());
    EXPECT_EQ(filter.SendHeldFor(start + 1s), Clock::duration::zero());
}

TEST(ReplyFilterTimeoutTest, APaidDebtBacksTheTimeOutOffUntilTheNextRoundTrip) {
    ReplyFilter filter;
    const Clock::time_point start = Clock::now();
    const auto floor = RoundTripEstimate::Duration(500ms);
    filter.NoteSend(program, start, false);
    filter.NoteSend(program, start + 500ms, true);
    ASSERT_TRUE(filter.Accept(program, start + 800ms));
    EXPECT_EQ(filter.TimeoutFor(program, floor, false), floor) << "a resent frame teaches nothing";
    EXPECT_EQ(filter.TimeoutFor(program, floor, true), floor) << "and nothing else was timed";
    filter.NoteSend(program, start + 800ms, false);
    EXPECT_FALSE(filter.Accept(program, start + 1300ms));
    EXPECT_EQ(filter.TimeoutFor(program, floor, false), 2 * floor);
    ASSERT_TRUE(filter.Accept(program, start + 1600ms));
    EXPECT_EQ(filter.TimeoutFor(program, floor, false),
              RoundTripEstimate::Duration(800ms + 4 * 400ms));
}

TEST(ReplyFilterTimeoutTest, OnlyALastCopyWaitsWhatAnotherCommandTaught) {
    ReplyFilter filter;
    const Clock::time_point start = Clock::now();
    const auto floor = RoundTripEstimate::Duration(500ms);
    filter.NoteSend(erase, start, false);
    ASSERT_TRUE(filter.Accept(erase, start + 800ms));
    EXPECT_EQ(filter.TimeoutFor(program, floor, false), floor);
    EXPECT_EQ(filter.TimeoutFor(program, floor, true), RoundTripEstimate::Duration(2400ms));
}

// RFC 6298's arithmetic: the first sample sets the deviation to half of it, each later one moves
// the smoothed value by an eighth and the deviation by a quarter; the floor and the cap of eight
// floors bound the result, and back-offs double it until the next sample.
struct EstimateCase {
    const char* name;
    std::vector<std::chrono::milliseconds> samples;
    int backOffs;
    std::chrono::milliseconds timeout; // for a floor of 500 ms
};

class RoundTripEstimateTest : public ::testing::TestWithParam<EstimateCase> {};

TEST_P(RoundTripEstimateTest, TimeOutFollowsThePath) {
    RoundTripEstimate estimate;
    for (const auto sample : GetParam().samples) {
        estimate.AddSample(sample);
    }
    for (int i = 0; i < GetParam().backOffs; ++i) {
        estimate.BackOff();
    }
    EXPECT_EQ(estimate.Timeout(500ms), GetParam().timeout);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RoundTripEstimateTest,
    ::testing::Values(EstimateCase{"NothingLearnedIsTheFloor", {}, 0, 500ms},
                      EstimateCase{"AFastPathKeepsTheFloor", {1ms, 1ms, 2ms}, 0, 500ms},
                      EstimateCase{"OneSlowSample", {800ms}, 0, 2400ms},
                      EstimateCase{"TwoSlowSamples", {800ms, 800ms}, 0, 2000ms},
                      EstimateCase{"ASteadyPathWaitsItsRoundTripAndTheGranularity",
                                   std::vector<std::chrono::milliseconds>(60, 800ms), 0, 820ms},
                      EstimateCase{"ATooSlowPathIsCapped", {3000ms}, 0, 4000ms},
                      EstimateCase{"BackOffsDoubleTheFloor", {}, 2, 2000ms},
                      EstimateCase{"BackOffsStopAtTheCap", {}, 5, 4000ms}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
} // namespace ostrel
