#pragma once

#include "net/UdpEndpoint.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ostrel::bench {

struct Samples {
    std::vector<double> values;

    void Add(double value) { values.push_back(value); }
    double Median() const;
    double Mean() const;
};

struct Exchange {
    std::chrono::steady_clock::time_point sent;
    std::chrono::steady_clock::time_point received;
};

// Sends the request and takes the next datagram that comes back, up to count times and for at
// most the time limit. A lost exchange (the endpoint's receive time-out) is counted, not timed.
// Round trips go into microseconds; returns the last exchange when it was answered.
std::optional<Exchange> MeasureRoundTrips(UdpEndpoint& endpoint,
                                          std::span<const std::uint8_t> request, std::size_t count,
                                          std::chrono::milliseconds limit, Samples& microseconds,
                                          std::size_t& lost);

} // namespace ostrel::bench
