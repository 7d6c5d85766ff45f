#include "bench/SimClock.h"

#include <charconv>

namespace ostrel::bench {

namespace {

SimClock::Clock::duration FromSeconds(double seconds) {
    return std::chrono::duration_cast<SimClock::Clock::duration>(
        std::chrono::duration<double>(seconds));
}

} // namespace

std::optional<double> LogSeconds(std::string_view line) {
    double seconds = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), seconds);
    if (error != std::errc() || end == line.data() ||
        (end != line.data() + line.size() && *end != ' ')) {
        return std::nullopt;
    }
    return seconds;
}

void SimClock::Calibrate(Clock::time_point sent, Clock::time_point received, double logSeconds) {
    const Clock::time_point middle = sent + (received - sent) / 2;
    startOfLog = middle.time_since_epoch() - FromSeconds(logSeconds);
    calibrated = true;
}

SimClock::Clock::time_point SimClock::ToLocal(double logSeconds) const {
    return Clock::time_point(startOfLog + FromSeconds(logSeconds));
}

} // namespace ostrel::bench
