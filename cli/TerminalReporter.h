#pragma once

#include "cli/Console.h"
#include "cli/ModuleTally.h"
#include "fleet/FleetListener.h"

#include <string>

namespace ostrel::cli {

// A fleet's events on a terminal: a bar per module, redrawn in place, with a total line when
// there are several.
class TerminalReporter final : public FleetListener {
public:
    explicit TerminalReporter(Console& out) : console(out) {}
    TerminalReporter(const TerminalReporter&) = delete;
    TerminalReporter& operator=(const TerminalReporter&) = delete;
    ~TerminalReporter() override;

    void Notice(Level level, const std::string& text) override { console.Notice(level, text); }
    void Start(const ModuleTarget& module, const std::string& file,
               const UpdatePlan& plan) override;
    void PhaseBegins(const ModuleTarget& module, Phase phase) override;
    void Progress(const ModuleTarget& module, std::uint32_t done, std::uint32_t total) override;
    void Resent(const ModuleTarget&, BootCommand, std::uint16_t) override {}
    void TryAgain(const ModuleTarget& module, const ModuleOutcome& failed,
                  unsigned nextTry) override;
    void End(const ModuleTarget& module, const ModuleOutcome& outcome) override;

private:
    struct Bar {
        std::string phase = "starting";
        bool ended = false;
        std::string endText;
    };

    Bar& BarOf(const ModuleTally& tally);
    std::string BarText(const ModuleTally& tally, int width);
    std::string TotalText() const;
    void Redraw(bool now);

    Console& console;
    ModuleTallies tallies;
    std::vector<Bar> bars; // beside the tallies, in their order
    int drawnLines = 0;
    ModuleTally::Clock::time_point lastDraw{};
};

} // namespace ostrel::cli
