#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <poll.h>
#include <vector>

namespace ostrel {

// One wait for whatever comes first: a descriptor that can be read, or a time. Every loop that
// waits on sockets, queues and signals gathers what it waits for here, waits once, and has the
// handlers of what is ready run; then it gathers again.
class EventWait {
public:
    using Clock = std::chrono::steady_clock;

    // A negative descriptor is not watched.
    void Watch(int fd, std::function<void()> onReadable);
    // The wait ends at the earliest time given, if any.
    void Until(Clock::time_point due);
    std::optional<Clock::time_point> Due() const { return due; }

    // Waits, with millisecond resolution rounded up so that it never ends before a time given,
    // then runs the handlers of the descriptors that can be read, in the order they were watched,
    // and forgets everything for the next round.
    void Wait();

private:
    std::vector<pollfd> watched;
    std::vector<std::function<void()>> handlers;
    std::optional<Clock::time_point> due;
};

} // namespace ostrel
