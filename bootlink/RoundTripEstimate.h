#pragma once

#include <chrono>
#include <optional>

namespace ostrel {

// One command's round trip, smoothed as TCP smooths it (RFC 6298): a smoothed round trip and
// its mean deviation, learned only from frames answered before they went out again (Karn's
// rule), so that an answer is never timed against the wrong copy.
//
// The time-out it gives never falls below the command's own time-out (the floor), so on a path
// faster than that nothing changes; it grows to fit a slower path, at most to eight floors.
// Until a path has given a sample, a resend that proved needless (its first copy was answered
// after all) doubles the time-out, as TCP backs off, so that the next frame can be answered on
// its first send and teach the round trip.
class RoundTripEstimate {
public:
    using Duration = std::chrono::nanoseconds;
    // The worker's resolution: a pass waits up to 20 ms.
    static constexpr Duration granularity = std::chrono::milliseconds(20);
    static constexpr int capFloors = 8;

    void AddSample(Duration roundTrip);
    void BackOff();

    bool HasSample() const { return smoothed.has_value(); }
    // The smoothed round trip; zero before the first sample.
    Duration Smoothed() const { return smoothed.value_or(Duration::zero()); }
    Duration Deviation() const { return deviation; }
    Duration Timeout(Duration floor) const;

private:
    std::optional<Duration> smoothed;
    Duration deviation{};
    int backOffs = 0;
};

} // namespace ostrel
