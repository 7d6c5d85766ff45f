#pragma once

#include <sched.h>

namespace ostrel::bench {

// Pins the calling thread, and so every thread and process it starts afterwards, to the first
// CPU it may run on; puts the old mask back when it goes.
class OneCpu {
public:
    explicit OneCpu(bool pin);
    OneCpu(const OneCpu&) = delete;
    OneCpu& operator=(const OneCpu&) = delete;
    ~OneCpu();

    bool Pinned() const { return pinned; }

private:
    cpu_set_t saved{};
    bool pinned = false;
};

} // namespace ostrel::bench
