#include "cli/ModuleTally.h"

#include <algorithm>

namespace ostrel::cli {

double ModuleTally::Seconds() const {
    return std::chrono::duration<double>(Clock::now() - started).count();
}

std::optional<int> ModuleTally::NewTenth(std::uint32_t recordsDone, std::uint32_t recordsTotal) {
    done = recordsDone;
    total = recordsTotal;
    const int tenths = total == 0 ? 0 : static_cast<int>(10ull * std::min(done, total) / total);
    if (tenths <= tenthsShown) {
        return std::nullopt;
    }
    tenthsShown = tenths;
    return tenths;
}

std::uint32_t ModuleTally::FramesDone() const {
    if (total == 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(std::uint64_t{plan->programFrames} * std::min(done, total) /
                                      total);
}

double ModuleTally::BytesPerSecond() const {
    const double elapsed = std::chrono::duration<double>(Clock::now() - programStarted).count();
    const double bytes = double(plan->dataBytes) * std::min(done, total) / std::max(total, 1u);
    return elapsed > 0 ? bytes / elapsed : 0.0;
}

ModuleTally& ModuleTallies::Of(const ModuleTarget& module) {
    const auto found = std::ranges::find(tallies, module.name, &ModuleTally::module);
    if (found != tallies.end()) {
        return *found;
    }
    tallies.push_back({});
    tallies.back().module = module.name;
    return tallies.back();
}

ModuleTally& ModuleTallies::Restart(const ModuleTarget& module, const UpdatePlan& plan) {
    ModuleTally& tally = Of(module);
    tally = ModuleTally{};
    tally.module = module.name;
    tally.plan = &plan;
    tally.started = ModuleTally::Clock::now();
    return tally;
}

std::string PhaseDescription(Phase phase) {
    switch (phase) {
    case Phase::Wake:
        return "waking the bootloader";
    case Phase::Check:
        return "asking the module's CRC";
    case Phase::Erase:
        return "erasing";
    case Phase::Program:
        return "programming";
    case Phase::Verify:
        return "verifying";
    case Phase::Run:
        return "starting the application";
    case Phase::Confirm:
        return "waiting for the application";
    }
    return "?";
}

} // namespace ostrel::cli
