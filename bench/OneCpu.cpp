#include "bench/OneCpu.h"

namespace ostrel::bench {

OneCpu::OneCpu(bool pin) {
    if (!pin || ::sched_getaffinity(0, sizeof saved, &saved) != 0) {
        return;
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &saved)) {
            CPU_SET(cpu, &one);
            break;
        }
    }
    pinned = ::sched_setaffinity(0, sizeof one, &one) == 0;
}

OneCpu::~OneCpu() {
    if (pinned) {
        ::sched_setaffinity(0, sizeof saved, &saved);
    }
}

} // namespace ostrel::bench
