#pragma once

#include <chrono>
#include <optional>

namespace ostrel {

// A link's worker as passes, so that whoever drives it (the link's own thread, or one loop for
// many links) waits the same way: work out the wait, wait on the socket and the wake event,
// then run one pass with what was ready.
class WorkerPasses {
public:
    struct WaitPlan {
        std::optional<std::chrono::nanoseconds> wait; // none: until something comes
        bool holding = false; // a send is held back for the answer's late copies
        bool timing = false;  // something is armed, outstanding or declared timed out
    };
    static constexpr std::chrono::milliseconds idleRest{1};

    virtual WaitPlan PlanWait() = 0;
    // One pass after the wait; true when the driver is to rest idleRest before the next wait.
    virtual bool Pass(const WaitPlan& plan, bool readable, bool woken) = 0;
    virtual int SocketFd() const = 0;
    virtual int WakeFd() const = 0;

protected:
    ~WorkerPasses() = default;
};

} // namespace ostrel
