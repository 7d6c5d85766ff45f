#pragma once

#include "cli/Console.h"
#include "fleet/FleetListener.h"

#include <memory>
#include <vector>

namespace ostrel::cli {

// The reporters a console asks for, as one listener: the JSON lines when asked, and always the
// human text, as bars on a terminal or as plain lines elsewhere. Each event goes to them in that
// order, so a JSON line comes before the words for the same event.
class ReporterSet final : public FleetListener {
public:
    explicit ReporterSet(Console& console);

    void Notice(Level level, const std::string& text) override;
    void Start(const ModuleTarget& module, const std::string& file,
               const UpdatePlan& plan) override;
    void PhaseBegins(const ModuleTarget& module, Phase phase) override;
    void Progress(const ModuleTarget& module, std::uint32_t done, std::uint32_t total) override;
    void Resent(const ModuleTarget& module, BootCommand command, std::uint16_t send) override;
    void TryAgain(const ModuleTarget& module, const ModuleOutcome& failed,
                  unsigned nextTry) override;
    void End(const ModuleTarget& module, const ModuleOutcome& outcome) override;

private:
    std::vector<std::unique_ptr<FleetListener>> reporters;
};

} // namespace ostrel::cli
