#pragma once

#include "bootlink/LinkLoop.h"
#include "common/EventWait.h"
#include "fleet/FleetListener.h"
#include "fleet/LinkEventQueue.h"
#include "fleet/ModuleUpdate.h"

#include <memory>
#include <optional>
#include <queue>
#include <string>
#include <vector>

namespace ostrel {

// How a run treats its modules.
struct FleetPolicy {
    std::size_t parallel = 0; // at most so many between wake and end at once; 0: all
    unsigned moreTries = 0;   // a module whose try failed is updated again so many more times
    // A module known to run this version already is left alone: "unchanged".
    std::optional<std::string> unlessVersion;
};

// Runs the updates of many modules side by side on one thread. It waits on the links' events,
// the probes' sockets and the stop descriptor, and for the next tick any update wants; it never
// spins. A module whose try failed with no answer, a CRC mismatch or no confirm is tried again
// from the wake string while tries remain; only its last try is its outcome. Nothing is shared
// between the modules' links but the loop that runs their workers and the frames they send. What a
// round costs depends on what came in it, not on the size of the fleet: modules are stepped from a
// queue of when each is due, and only those that ended are settled.
class FleetUpdate {
public:
    struct Module {
        ModuleTarget target;
        unsigned tries = 0;
        double seconds = 0; // of all its tries
        std::unique_ptr<ModuleUpdate> current;
        std::optional<ModuleOutcome> outcome;
    };

    // stopFd becomes readable when the run is to stop (Ctrl-C, the window's Stop).
    FleetUpdate(const UpdateJob& job, std::vector<ModuleTarget> targets, FleetPolicy policy,
                FleetListener& listener, int stopFd);

    // Runs every module to its outcome. On a stop every running update is interrupted, and
    // those not started end as interrupted too; returns false then.
    bool Run();
    const std::vector<Module>& Modules() const { return modules; }

private:
    using Clock = ModuleUpdate::Clock;
    struct Due {
        Clock::time_point at;
        std::size_t module;
        bool operator>(const Due& other) const { return at > other.at; }
    };

    void StartTry(std::size_t module, Clock::time_point now);
    // Left alone, on the version asked for: it ends at once, unchanged.
    void LeaveAlone(Module& module);
    void StartWhilePlacesAreFree(Clock::time_point now);
    void SettleEnded();
    void Settle(std::size_t module);
    void Finish(Module& module);
    void InterruptAll(Clock::time_point now);
    void TakeLinkEvents();
    void StepDue(Clock::time_point now);
    void WatchProbes(EventWait& wait, const bool& stopped);
    // After any call into a module's try: it ended, or is due at another time, or probes.
    void Touched(std::size_t module);
    std::size_t Cap() const;

    const UpdateJob& job;
    FleetPolicy policy;
    FleetListener& listener;
    int stopFd;
    LinkEventQueue queue;
    LinkLoop links; // outlives every try's link
    // Every link of a fleet sends the same frames: built once, not read and encoded per module.
    std::shared_ptr<const ProgramFrames> program;
    std::vector<Module> modules;
    std::vector<std::size_t> moduleOfTry; // a try's id, as its link posts it, to its module
    std::size_t nextToStart = 0;
    std::size_t running = 0;          // modules with a current try
    std::size_t finished = 0;         // modules with an outcome
    std::vector<std::size_t> ended;   // modules whose current try ended, to be settled
    std::vector<std::size_t> probing; // modules whose try may await its application
    std::vector<bool> isProbing;
    std::vector<std::optional<Clock::time_point>> dueOf; // each module's one due time that counts
    std::priority_queue<Due, std::vector<Due>, std::greater<>> dues;
};

// Whether a try that failed so is worth another from the wake string.
bool WorthAnotherTry(ExitCode code);

} // namespace ostrel
