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

ReplyFilter::Clock::time_point ReplyFilter::SendNotBefore() const {
    return straySeen ? lastAnswer + copyGuard : Clock::time_point::min();
}

} // namespace ostrel
