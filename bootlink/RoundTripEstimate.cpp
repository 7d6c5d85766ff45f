#include "bootlink/RoundTripEstimate.h"

#include <algorithm>

namespace ostrel {

void RoundTripEstimate::AddSample(Duration roundTrip) {
    roundTrip = std::max(roundTrip, Duration::zero());
    if (!smoothed) {
        smoothed = roundTrip;
        deviation = roundTrip / 2;
    } else {
        const Duration error =
            *smoothed > roundTrip ? *smoothed - roundTrip : roundTrip - *smoothed;
        deviation = (3 * deviation + error) / 4;
        smoothed = (7 * *smoothed + roundTrip) / 8;
    }
    backOffs = 0;
}

void RoundTripEstimate::BackOff() {
    backOffs = std::min(backOffs + 1, 3); // 2^3: the cap of eight floors
}

RoundTripEstimate::Duration RoundTripEstimate::Timeout(Duration floor) const {
    Duration wait = floor;
    if (smoothed) {
        wait = std::max(floor, *smoothed + std::max(granularity, 4 * deviation));
    }
    return std::min(wait * (1 << backOffs), capFloors * floor);
}

} // namespace ostrel
