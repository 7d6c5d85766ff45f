#pragma once

#include "fleet/FleetUpdate.h"

#include <array>
#include <string>
#include <vector>

namespace ostrel {

// How a whole run ended: its modules by result, the failed ones by name with their codes, and
// one exit code for the run.
struct FleetOutcome {
    std::size_t modules = 0;
    std::array<std::size_t, 5> byResult{}; // by ModuleResult
    std::string failed;                    // "a.b.c.d (4), ..."
    ExitCode code = ExitCode::Done;

    std::size_t Count(ModuleResult result) const {
        return byResult[static_cast<std::size_t>(result)];
    }
};

// The module's own code for one module; for several, 0 when every one is done, the common code
// when all failed alike, 8 otherwise. An interrupt wins.
FleetOutcome OutcomeOf(const std::vector<FleetUpdate::Module>& modules, bool interrupted);

} // namespace ostrel
