#pragma once

#include "cli/Console.h"
#include "cli/ModuleTally.h"
#include "fleet/FleetListener.h"

namespace ostrel::cli {

// A fleet's events as plain lines, for logs and pipes: one per phase and per tenth of the
// programming, never a control character.
class PlainReporter final : public FleetListener {
public:
    explicit PlainReporter(Console& out) : console(out) {}

    void Notice(Level level, const std::string& text) override { console.Notice(level, text); }
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

// What the human reporters say of a try tried again and of a module's end.
std::string TryAgainText(const ModuleTarget& module, const ModuleOutcome& failed, unsigned nextTry);
std::string EndText(const ModuleTarget& module, const ModuleOutcome& outcome);
std::string FailureLine(const ModuleTarget& module, const ModuleOutcome& outcome);

} // namespace ostrel::cli
