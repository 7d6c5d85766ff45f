#include "fleet/FleetOutcome.h"

#include <algorithm>

namespace ostrel {

namespace {

ExitCode RunCode(const std::vector<FleetUpdate::Module>& modules, bool interrupted) {
    if (interrupted) {
        return ExitCode::Interrupted;
    }
    const auto code = [](const FleetUpdate::Module& module) { return module.outcome->code; };
    if (modules.size() == 1) {
        return code(modules.front());
    }
    if (std::ranges::all_of(modules, [&](const auto& m) { return code(m) == ExitCode::Done; })) {
        return ExitCode::Done;
    }
    const ExitCode first = code(modules.front());
    const bool alike =
        std::ranges::all_of(modules, [&](const auto& m) { return code(m) == first; });
    return alike ? first : ExitCode::SomeFailed;
}

} // namespace

FleetOutcome OutcomeOf(const std::vector<FleetUpdate::Module>& modules, bool interrupted) {
    FleetOutcome outcome;
    outcome.modules = modules.size();
    for (const FleetUpdate::Module& module : modules) {
        ++outcome.byResult[static_cast<std::size_t>(module.outcome->result)];
        if (module.outcome->code != ExitCode::Done) {
            outcome.failed += (outcome.failed.empty() ? "" : ", ") + module.target.name + " (" +
                              std::to_string(ToInt(module.outcome->code)) + ")";
        }
    }
    outcome.code = RunCode(modules, interrupted);
    return outcome;
}

} // namespace ostrel
