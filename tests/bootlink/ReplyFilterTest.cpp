#include "bootlink/ReplyFilter.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using Clock = ReplyFilter::Clock;
using Duration = RoundTripEstimate::Duration;

// A link's life as steps, times in microseconds (or ms) from an arbitrary start:
//   P@1000ms  Program's first copy leaves (E Erase, V Verify); p@1500ms a resend of it
//   +P@1800ms a reply that must be taken, -P@.. one that must be dropped, ~P@.. one while idle
//   P<500     the next copy of Program waits 500 ms; P<<2400 its last copy waits 2400 ms
struct FilterCase {
    const char* name;
    const char* steps;
};

void PrintTo(const FilterCase& row, std::ostream* out) {
    *out << row.name;
}

std::uint8_t CommandOf(char letter) {
    switch (std::toupper(letter)) {
    case 'E':
        return 2;
    case 'P':
        return 3;
    default:
        return 4;
    }
}

class ReplyFilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(ReplyFilterTest, TakesEachFramesOwnAnswerOnceAndWaitsForThePath) {
    ReplyFilter filter;
    const Clock::time_point start = Clock::now();
    std::istringstream steps(GetParam().steps);
    for (std::string step; steps >> step;) {
        const char sign = std::string("+-~").find(step[0]) != std::string::npos ? step[0] : ' ';
        const std::string rest = sign == ' ' ? step : step.substr(1);
        const std::uint8_t command = CommandOf(rest[0]);
        const auto number = std::stol(rest.substr(rest.find_first_of("0123456789")));
        const auto time = rest.ends_with("ms") || rest.find('<') != std::string::npos
                              ? Duration(std::chrono::milliseconds(number))
                              : Duration(std::chrono::microseconds(number));
        const auto at = start + time;
        if (rest.find('<') != std::string::npos) {
            EXPECT_EQ(filter.TimeoutFor(command, 500ms, rest.find("<<") != std::string::npos), time)
                << step;
        } else if (sign == '~') {
            filter.NoteIdle(command, at);
        } else if (sign != ' ') {
            EXPECT_EQ(filter.Accept(command, at), sign == '+') << step;
        } else {
            filter.NoteSend(command, at, std::islower(rest[0]) != 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyFilterTest,
    ::testing::Values(
        FilterCase{"BeforeAnyRoundTripAReplyIsTaken", "~E@0 P@0 +P@1"},
        FilterCase{"AReplyNamingAnotherCommandIsDropped", "V@0 -P@900 -E@950 +V@1000"},
        // The duplicate at 41 us was queued before the send.
        FilterCase{"AReplyThatArrivedBeforeTheSendIsAnEcho", "P@0 +P@40 P@50 -P@41 -P@50 +P@90"},
        FilterCase{"WithoutRepeatsTheSpreadOfRoundTripsDropsNothing",
                   "P@0 +P@55 P@100 +P@113 P@200 +P@203"},
        FilterCase{"ASlowEraseSaysNothingAboutProgramFrames",
                   "~E@0 E@0 +E@2000000 P@2000100 +P@2000140 P@2000200 +P@2000230 P<500"},
        // 800 ms round trips; the frame was resent at 500 ms and both copies are answered.
        FilterCase{"OnASlowPathTheResentCopysAnswerIsNeverTheNextFramesAnswer",
                   "E@0 +E@800ms P@1000ms p@1500ms +P@1800ms P@1800ms -P@2300ms +P@2600ms"},
        FilterCase{"ThatAnswersCopiesFromTheNetworkAreDroppedToo",
                   "E@0 +E@800ms P@1000ms p@1500ms +P@1800000 P@1800200 -P@1800010 "
                   "-P@2300000 -P@2300010 +P@2600000"},
        FilterCase{"OnAFastPathAResentFrameOwesNothing",
                   "E@0 +E@1ms P@2ms p@502000 +P@502040 P@502050 +P@502090 P@800ms +P@800040"},
        // Nothing timed, so the answer is put to the first copy; the next frame's quick answer
        // shows that the first copy was lost, and the debt goes.
        FilterCase{"AShortRoundTripCancelsTheDebtOfALostCopy",
                   "P@0 p@500000 +P@500040 P@500050 +P@500090 P@800ms +P@800040"},
        FilterCase{"ADebtNotPaidInTimeExpires",
                   "P@0 p@500ms +P@800ms P@800ms p@1300ms p@1800ms +P@2200ms"},
        FilterCase{"ALateAnswerWhileIdlePaysItsDebt",
                   "E@0 +E@800ms P@1000ms p@1500ms +P@1800ms ~P@2300ms P@2400ms +P@2500ms"},
        // A resend teaches nothing; its late answer backs the time-out off until a frame is
        // answered on its first copy. Only a last copy waits what the Erase taught.
        FilterCase{"TimeOutsFollowThePath",
                   "P<500 P<<500 E@0 +E@800ms P<500 P<<2400 P@1000ms p@1500ms +P@1800ms P<500 "
                   "P@1800ms -P@2300ms P<1000 +P@2600ms P<2400"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(ReplyFilterGuardTest, OnlyAPathThatRepeatsRepliesHoldsTheNextSendBack) {
    ReplyFilter filter;
    const Clock::time_point start = Clock::now();
    filter.NoteSend(3, start, false);
    ASSERT_TRUE(filter.Accept(3, start + 40us));
    EXPECT_EQ(filter.SendHeldFor(start + 41us), Clock::duration::zero());
    filter.NoteIdle(3, start + 41us);
    EXPECT_EQ(filter.SendHeldFor(start + 41us), ReplyFilter::copyGuard - 1us)
        << "the answer's copies get their moment";
    EXPECT_EQ(filter.SendHeldFor(start + 40us + ReplyFilter::copyGuard), Clock::duration::zero());
    EXPECT_EQ(filter.SendHeldFor(start + 1s), Clock::duration::zero());
}

// RFC 6298's arithmetic for a floor of 500 ms: the first sample sets the deviation to half of
// it, each later one moves the smoothed value by an eighth and the deviation by a quarter; the
// granularity, the floor and the cap of eight floors bound the result; back-offs double it.
TEST(RoundTripEstimateTest, TimeOutFollowsThePath) {
    const auto timeoutAfter = [](std::vector<std::chrono::milliseconds> samples, int backOffs) {
        RoundTripEstimate estimate;
        for (const auto sample : samples) {
            estimate.AddSample(sample);
        }
        for (int i = 0; i < backOffs; ++i) {
            estimate.BackOff();
        }
        return estimate.Timeout(500ms);
    };
    EXPECT_EQ(timeoutAfter({}, 0), 500ms);
    EXPECT_EQ(timeoutAfter({1ms, 1ms, 2ms}, 0), 500ms);
    EXPECT_EQ(timeoutAfter({800ms}, 0), 2400ms);
    EXPECT_EQ(timeoutAfter({800ms, 800ms}, 0), 2000ms);
    EXPECT_EQ(timeoutAfter(std::vector(60, 800ms), 0), 820ms);
    EXPECT_EQ(timeoutAfter({3000ms}, 0), 4000ms);
    EXPECT_EQ(timeoutAfter({}, 2), 2000ms);
    EXPECT_EQ(timeoutAfter({}, 5), 4000ms);
}

} // namespace
} // namespace ostrel
