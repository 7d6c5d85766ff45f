#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace ostrel::bench {

// The time at the start of a simulator log line: seconds since the simulator started.
std::optional<double> LogSeconds(std::string_view line);

// Puts the simulator's log times on this process's steady clock. Both processes read the same
// monotonic clock, so one exchange whose request the log shows fixes the offset; the error is
// at most half the time from sending the request to taking its reply.
class SimClock {
public:
    using Clock = std::chrono::steady_clock;

    // The request left at sent, its reply (or nothing, then pass sent again) came at received,
    // and the simulator logged the request at logSeconds.
    void Calibrate(Clock::time_point sent, Clock::time_point received, double logSeconds);
    bool Calibrated() const { return calibrated; }
    Clock::time_point ToLocal(double logSeconds) const;

private:
    Clock::duration startOfLog{};
    bool calibrated = false;
};

// Seconds between two points of the steady clock.
inline double Seconds(SimClock::Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

} // namespace ostrel::bench
