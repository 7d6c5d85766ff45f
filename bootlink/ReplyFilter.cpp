#include "bootlink/ReplyFilter.h"

#include <algorithm>

namespace ostrel {

void ReplyFilter::NoteSend(std::uint8_t command, Clock::time_point at, bool resend) {
    if (!resend) {
        frameCommand = command;
        sends.clear();
    }
    sends.push_back(at);
}

bool ReplyFilter::Accept(std::uint8_t replyCommand, Clock::time_point arrival) {
    if (IsPathCopy(replyCommand, arrival)) {
        return false;
    }
    // A reply cannot come back sooner than it was asked for: one stamped no later than the
    // frame's first copy left answers something earlier.
    if (replyCommand != frameCommand || sends.empty() || arrival <= sends.front()) {
        DropEarlier(replyCommand, arrival);
        return false;
    }
    if (PayDebt(replyCommand, arrival)) {
        straySeen = true;
        return false;
    }
    TakeAnswer(arrival);
    return true;
}

void ReplyFilter::NoteIdle(std::uint8_t replyCommand, Clock::time_point arrival) {
    if (!IsPathCopy(replyCommand, arrival)) {
        DropEarlier(replyCommand, arrival);
    }
}

RoundTripEstimate::Duration ReplyFilter::TimeoutFor(std::uint8_t command,
                                                    RoundTripEstimate::Duration floor,
                                                    bool lastCopy) const {
    const RoundTripEstimate& own = RoundTripOf(command);
    if (lastCopy && !own.HasSample() && lastTimed != 0) {
        return std::max(own.Timeout(floor), RoundTripOf(lastTimed).Timeout(floor));
    }
    return own.Timeout(floor);
}

ReplyFilter::Clock::duration ReplyFilter::SendHeldFor(Clock::time_point now) const {
    if (!straySeen) {
        return Clock::duration::zero();
    }
    return std::max(Clock::duration::zero(), lastAnswer + copyGuard - now);
}

const RoundTripEstimate& ReplyFilter::RoundTripOf(std::uint8_t command) const {
    return estimates[command < commands ? command : 0];
}

RoundTripEstimate& ReplyFilter::EstimateOf(std::uint8_t command) {
    return estimates[command < commands ? command : 0];
}

bool ReplyFilter::IsPathCopy(std::uint8_t replyCommand, Clock::time_point arrival) const {
    return replyCommand == lastPaidCommand && arrival >= lastPaid && arrival - lastPaid < copyGuard;
}

void ReplyFilter::DropEarlier(std::uint8_t replyCommand, Clock::time_point arrival) {
    straySeen = true;
    PayDebt(replyCommand, arrival);
}

bool ReplyFilter::PayDebt(std::uint8_t replyCommand, Clock::time_point arrival) {
    std::erase_if(owed, [arrival](const OwedAnswer& debt) { return debt.latest < arrival; });
    const auto debt = std::ranges::find_if(owed, [&](const OwedAnswer& candidate) {
        return candidate.command == replyCommand && candidate.earliest <= arrival;
    });
    if (debt == owed.end()) {
        return false;
    }
    owed.erase(debt);
    lastPaidCommand = replyCommand;
    lastPaid = arrival;
    EstimateOf(replyCommand).BackOff();
    return true;
}

void ReplyFilter::TakeAnswer(Clock::time_point arrival) {
    lastAnswer = arrival;
    const std::size_t answered = AnsweredCopy(arrival);
    const Clock::duration roundTrip = arrival - sends[answered];
    // Karn's rule: only an answer that came before any resend left times the round trip.
    if (answered == 0 && (sends.size() == 1 || arrival < sends[1])) {
        EstimateOf(frameCommand).AddSample(roundTrip);
        lastTimed = frameCommand;
        std::erase_if(owed, [&](const OwedAnswer& debt) {
            return debt.command == frameCommand && debt.roundTrip > 2 * roundTrip;
        });
    }
    // The debts' windows follow the path's round trip rather than this answer's, which is too
    // long when the answer was put to too early a copy.
    const RoundTripEstimate* guide = Guide();
    const Clock::duration expected = guide != nullptr ? guide->Smoothed() : roundTrip;
    for (std::size_t later = answered + 1; later < sends.size(); ++later) {
        if (owed.size() == owedLimit) {
            owed.erase(owed.begin());
        }
        owed.push_back(
            {frameCommand, sends[later] + expected / 2, sends[later] + 2 * expected, expected});
    }
}

const RoundTripEstimate* ReplyFilter::Guide() const {
    const RoundTripEstimate& own = RoundTripOf(frameCommand);
    if (own.HasSample()) {
        return &own;
    }
    return lastTimed != 0 ? &RoundTripOf(lastTimed) : nullptr;
}

std::size_t ReplyFilter::AnsweredCopy(Clock::time_point arrival) const {
    const RoundTripEstimate* guide = Guide();
    if (guide == nullptr) {
        return 0;
    }
    for (std::size_t copy = 0; copy < sends.size() && sends[copy] <= arrival; ++copy) {
        if (arrival - sends[copy] <= 2 * guide->Smoothed()) {
            return copy;
        }
    }
    return 0;
}

} // namespace ostrel
