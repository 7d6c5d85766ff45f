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

// One step of a link's life: a send, a stray reply on an idle link, or a reply that must be
// taken or dropped. Times are microseconds from an arbitrary start.
struct Step {
    enum Kind { Send, Stray, Reply } kind;
    std::uint8_t command;
    long atMicroseconds;
    bool taken = false; // for a reply
};

struct FilterCase {
    const char* name;
    std::vector<Step> steps;
};

class ReplyFilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(ReplyFilterTest, TakesOnlyAnswersToTheLatestSend) {
    ReplyFilter filter;
    const Clock::time_point start = Clock::now();
    for (std::size_t i = 0; i < GetParam().steps.size(); ++i) {
        const Step& step = GetParam().steps[i];
        const auto at = start + std::chrono::microseconds(step.atMicroseconds);
        switch (step.kind) {
        case Step::Send:
            filter.NoteSend(step.command, at);
            break;
        case Step::Stray:
            filter.NoteStray();
            break;
        case Step::Reply:
            EXPECT_EQ(filter.Accept(step.command, at), step.taken) << "step " << i;
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyFilterTest,
    ::testing::Values(
        FilterCase{
            "BeforeAnyRoundTripAReplyIsTaken",
            {{Step::Stray, erase, 0}, {Step::Send, program, 0}, {Step::Reply, program, 1, true}}},
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
        FilterCase{"OnceRepliesRepeatSoonerThanHalfTheShortestRoundTripIsAnEcho",
                   {{Step::Send, program, 0},
                    {Step::Reply, program, 64, true},
                    {Step::Stray, program, 70},
                    {Step::Send, program, 100},
                    {Step::Reply, program, 113}, // the copy, late: under half of 64 us
                    {Step::Reply, program, 120, true},
                    {Step::Send, program, 200},
                    {Step::Reply, program, 206}, // under half of the 13 us it taught
                    {Step::Reply, program, 207, true}}},
        FilterCase{"WithoutRepeatsTheSpreadOfRoundTripsDropsNothing",
                   {{Step::Send, program, 0},
                    {Step::Reply, program, 55, true}, // an update's first one: cold
                    {Step::Send, program, 100},
                    {Step::Reply, program, 113, true},
                    {Step::Send, program, 200},
                    {Step::Reply, program, 203, true}}},
        FilterCase{"AnEchoSeenByTheFilterItselfCountsAsARepeat",
                   {{Step::Send, program, 0},
                    {Step::Reply, program, 1000, true},
                    {Step::Send, program, 2000},
                    {Step::Reply, program, 1500}, // arrived before the send
                    {Step::Reply, program, 2400},
                    {Step::Reply, program, 2500, true}}},
        FilterCase{"ASlowEraseSaysNothingAboutProgramFrames",
                   {{Step::Stray, erase, 0},
                    {Step::Send, erase, 0},
                    {Step::Reply, erase, 2'000'000, true},
                    {Step::Send, program, 2'000'100},
                    {Step::Reply, program, 2'000'140, true},
                    {Step::Send, program, 2'000'200},
                    {Step::Reply, program, 2'000'230, true}}}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(ReplyFilterGuardTest, OnlyAPathThatRepeatsRepliesHoldsTheNextSendBack) {
    ReplyFilter filter;
    const Clock::time_point start = Clock::now();
    filter.NoteSend(program, start);
    ASSERT_TRUE(filter.Accept(program, start + 40us));
    EXPECT_EQ(filter.SendHeldFor(start + 41us), Clock::duration::zero());
    filter.NoteStray();
    EXPECT_EQ(filter.SendHeldFor(start + 41us), ReplyFilter::copyGuard - 1us)
        << "the answer's copies get their moment";
    EXPECT_EQ(filter.SendHeldFor(start + 40us + ReplyFilter::copyGuard), Clock::duration::zero());
    EXPECT_EQ(filter.SendHeldFor(start + 1s), Clock::duration::zero());
}

} // namespace
} // namespace ostrel
