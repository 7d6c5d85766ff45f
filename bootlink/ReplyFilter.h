#pragma once

#include "bootlink/RoundTripEstimate.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

namespace ostrel {

// Tells the answer to the frame in flight from every other reply, and learns the round trips
// that the link's time-outs follow.
//
// A reply names the command it answers, and the kernel stamps when it arrived: one for another
// command, or one that arrived before the frame's first copy left, answers something earlier.
//
// An answer counts once. A frame sent k times can be answered k times, so when its answer is
// taken the copies sent after the one it answered still owe theirs. It answered the earliest
// copy it plausibly can: the first one from which its round trip is at most twice the smoothed
// round trip (the command's own, or before it has one, that of the command last timed); with
// none known, the first copy. A debt is expected between half and twice the smoothed round trip
// after its copy left: a reply in that window pays it and is dropped, and shows that the resend
// was needless, so the time-out backs off. Putting an answer to too early a copy only costs a
// resend; putting it to too late a one would take the next late answer for the next frame's.
// Counting alone cannot tell a copy lost on the way from a late one, and would hold a debt that is
// never paid against the next frames; stamps alone cannot tell whose answer a reply is once copies
// overlap. Both together can: a lost copy's debt expires, and a later round trip under half the one
// a debt assumed shows that debt was a lost copy's and cancels it. On a path faster than the
// time-outs a resent frame's answer always lies nearest its last copy, so nothing is owed and
// nothing changes.
//
// A path that repeats replies sends a reply's copies close behind it. Once a stray reply was
// seen, the next send waits 200 us after the answer it follows, so that the answer's copies
// arrive before it and are dropped as earlier; a reply within 200 us after one that paid a debt
// (and so came while a frame was in flight) is that reply's copy.
//
// Times are the kernel's arrival stamps, which are wall-clock times; only differences between a
// send and an arrival are ever taken.
class ReplyFilter {
public:
    using Clock = std::chrono::system_clock;
    static constexpr std::chrono::microseconds copyGuard{200};

    // A copy of the frame in flight left: its first, or a resend of the same frame.
    void NoteSend(std::uint8_t command, Clock::time_point at, bool resend);
    // A reply while a frame is in flight: true when it is that frame's answer.
    bool Accept(std::uint8_t replyCommand, Clock::time_point arrival);
    // A reply while no frame is in flight.
    void NoteIdle(std::uint8_t replyCommand, Clock::time_point arrival);

    // How long to wait for the answer to a copy of the command that leaves now. A command's last
    // copy, before the command has a round trip of its own, waits at least what the command last
    // timed would: a frame is not given up before the path could have answered it.
    RoundTripEstimate::Duration TimeoutFor(std::uint8_t command, RoundTripEstimate::Duration floor,
                                           bool lastCopy) const;
    // How much longer the next command should wait before it leaves; zero for none.
    Clock::duration SendHeldFor(Clock::time_point now) const;

    const RoundTripEstimate& RoundTripOf(std::uint8_t command) const;
    std::size_t AnswersOwed() const { return owed.size(); }
    bool StraySeen() const { return straySeen; }

private:
    struct OwedAnswer {
        std::uint8_t command;
        Clock::time_point earliest;
        Clock::time_point latest;
        Clock::duration roundTrip; // the one the debt was reckoned with
    };
    static constexpr std::size_t commands = 6;
    static constexpr std::size_t owedLimit = 64;

    bool IsPathCopy(std::uint8_t replyCommand, Clock::time_point arrival) const;
    // A reply that answers something earlier: it may pay a debt.
    void DropEarlier(std::uint8_t replyCommand, Clock::time_point arrival);
    bool PayDebt(std::uint8_t replyCommand, Clock::time_point arrival);
    void TakeAnswer(Clock::time_point arrival);
    std::size_t AnsweredCopy(Clock::time_point arrival) const;
    // The round trip that judges the frame in flight: its command's own, or before it has one,
    // that of the command last timed.
    const RoundTripEstimate* Guide() const;
    RoundTripEstimate& EstimateOf(std::uint8_t command);

    std::uint8_t frameCommand = 0;
    std::vector<Clock::time_point> sends; // of the frame in flight
    std::vector<OwedAnswer> owed;
    std::array<RoundTripEstimate, commands> estimates{};
    std::uint8_t lastTimed = 0; // the command whose round trip was learned last, if any
    std::uint8_t lastPaidCommand = 0;
    Clock::time_point lastPaid{};
    Clock::time_point lastAnswer{};
    bool straySeen = false;
};

} // namespace ostrel
