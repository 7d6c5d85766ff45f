#include "bench/RoundTrips.h"

#include "bootlink/BootLink.h"

#include <algorithm>
#include <array>
#include <numeric>

namespace ostrel::bench {

double Samples::Median() const {
    if (values.empty()) {
        return 0;
    }
    std::vector<double> sorted = values;
    const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    return *middle;
}

double Samples::Mean() const {
    if (values.empty()) {
        return 0;
    }
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

std::optional<Exchange> MeasureRoundTrips(UdpEndpoint& endpoint,
                                          std::span<const std::uint8_t> request, std::size_t count,
                                          std::chrono::milliseconds limit, Samples& microseconds,
                                          std::size_t& lost) {
    using Clock = std::chrono::steady_clock;
    std::array<std::uint8_t, BootLink::maxReplyDatagram> reply{};
    std::optional<Exchange> last;
    const auto end = Clock::now() + limit;
    for (std::size_t i = 0; i < count && Clock::now() < end; ++i) {
        const auto sent = Clock::now();
        endpoint.Send(request);
        if (endpoint.Receive(reply) == 0) {
            ++lost;
            last.reset();
            continue;
        }
        last = Exchange{sent, Clock::now()};
        microseconds.Add(std::chrono::duration<double, std::micro>(last->received - sent).count());
    }
    return last;
}

} // namespace ostrel::bench
