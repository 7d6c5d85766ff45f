#pragma once

#include "fleet/ModuleOutcome.h"
#include "update/UpdatePlan.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::cli {

// What a reporter keeps of one module's update to tell its progress.
struct ModuleTally {
    using Clock = std::chrono::steady_clock;

    std::string module;
    const UpdatePlan* plan = nullptr;
    Clock::time_point started{};
    Clock::time_point programStarted{};
    std::uint32_t done = 0;
    std::uint32_t total = 0;
    int tenthsShown = 0;

    double Seconds() const;
    // Takes the progress; the tenth of the programming reached, when it was not told yet (logs
    // stay short).
    std::optional<int> NewTenth(std::uint32_t recordsDone, std::uint32_t recordsTotal);
    std::uint32_t FramesDone() const;
    double BytesPerSecond() const;
};

// The tallies of a run, one per module, in the order the modules started.
class ModuleTallies {
public:
    ModuleTally& Of(const ModuleTarget& module);
    // A new try or a first one: the tally starts afresh.
    ModuleTally& Restart(const ModuleTarget& module, const UpdatePlan& plan);
    const std::vector<ModuleTally>& All() const { return tallies; }

private:
    std::vector<ModuleTally> tallies;
};

// "waking the bootloader", "erasing", ...: a phase as people read it.
std::string PhaseDescription(Phase phase);

} // namespace ostrel::cli
