#include "bootlink/ReplyFilter.h"

#include <algorithm>

namespace ostrel {

void ReplyFilter::NoteSend(std::uint8_t command, Clock::time_point at) {
    sentCommand = command;
    lastSend = at;
}

bool ReplyFilter::Accept(std::uint8_t replyCommand, Clock::time_point arrival) {
    const Clock::duration roundTrip = arrival - lastSend;
    // A reply for another command, or one already on its way before the send it would answer.
    if (replyCommand != sentCommand || roundTrip <= Clock::duration::zero()) {
        straySeen = true;
        return false;
    }
    RoundTrips& seen = roundTrips[replyCommand];
    const bool early = straySeen && seen.measured > 0 && roundTrip < seen.shortest / 2;
    ++seen.measured;
    seen.shortest = std::min(seen.shortest, roundTrip);
    if (!early) {
        lastAnswer = arrival;
    }
    return !early;
}

ReplyFilter::Clock::duration ReplyFilter::SendHeldFor(Clock::time_point now) const {
    if (!straySeen) {
        return Clock::duration::zero();
    }
    return std::max(Clock::duration::zero(), lastAnswer + copyGuard - now);
}

} // namespace ostrel
