#pragma once

#include <chrono>
#include <ctime>

namespace ostrel {

// A wait as ppoll and epoll_pwait2 take it, to the nanosecond.
inline timespec TimespecOf(std::chrono::nanoseconds span) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(span);
    return {static_cast<time_t>(seconds.count()), static_cast<long>((span - seconds).count())};
}

} // namespace ostrel
