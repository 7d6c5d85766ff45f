#pragma once

#include "cli/Console.h"
#include "cli/ModuleTally.h"
#include "fleet/FleetListener.h"

namespace ostrel::cli {

// A fleet's events as JSON lines on standard output, each naming its module (and its MAC once
// known): start, phase, progress at each tenth, retry, again and end.
class JsonReporter final : public FleetListener {
public:
    explicit JsonReporter(Console& out) : console(out) {}

    void Notice(Level, const std::string&) override {}
    void Start(const ModuleTarget& module, const std::string& file,
               const UpdatePlan& plan) override;
    void PhaseBegins(const ModuleTarget& module, Phase phase) override;
    void Progress(const ModuleTarget& module, std::uint32_t done, std::uint32_t total) override;
    void Resent(const ModuleTarget& module, BootCommand command, std::uint16_t send) override;
    void TryAgain(const ModuleTarget& module, const ModuleOutcome& failed,
                  unsigned nextTry) override;
    void End(const ModuleTarget& module, const ModuleOutcome& outcome) override;

private:
    Console& console;
    ModuleTallies tallies;
};

} // namespace ostrel::cli
