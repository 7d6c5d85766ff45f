#pragma once

#include "cli/LinkReportQueue.h"
#include "cli/ModuleUpdate.h"
#include "cli/StopSignals.h"

#include <memory>
#include <optional>
#include <vector>

namespace ostrel::cli {

// How a run treats its modules.
struct RunPolicy {
    std::size_t parallel = 0; // at most so many between wake and end at once; 0: all
    unsigned retries = 0;     // a module that failed is updated again so many more times
};

// Runs the updates of many modules side by side on the console's one thread. It waits on the
// links' reports, the probes' sockets and the stop signals, and for the next tick any update
// wants; it never spins. A module whose try failed with no answer, a CRC mismatch or no
// confirm is tried again from the wake string while retries remain; only its last try is its
// outcome. Nothing is shared between the modules' links.
class UpdateLoop {
public:
    struct Module {
        ModuleTarget target;
        unsigned tries = 0;
        double seconds = 0; // of all its tries
        std::unique_ptr<ModuleUpdate> current;
        std::optional<ModuleOutcome> outcome;
    };

    UpdateLoop(const UpdateJob& job, std::vector<ModuleTarget> targets, RunPolicy policy,
               UpdateReporter& reporter, const StopSignals& stop);

    // Runs every module to its outcome. On a stop signal every running update is interrupted,
    // and those not started end as interrupted too; returns false then.
    bool Run();
    const std::vector<Module>& Modules() const { return modules; }

private:
    using Clock = ModuleUpdate::Clock;

    void StartTry(Module& module, Clock::time_point now);
    void Settle(Module& module);
    void InterruptAll(Clock::time_point now);
    std::size_t Running() const;

    const UpdateJob& job;
    RunPolicy policy;
    UpdateReporter& reporter;
    const StopSignals& stop;
    LinkReportQueue queue;
    std::vector<Module> modules;
    std::vector<std::size_t> moduleOfTry; // a try's id, as its link reports it, to its module
    std::size_t nextToStart = 0;
};

// Whether a try that failed so is worth another from the wake string.
bool WorthAnotherTry(ExitCode code);

} // namespace ostrel::cli
