#pragma once

#include "cli/Console.h"
#include "cli/ModuleReport.h"

#include <chrono>
#include <string>
#include <vector>

namespace ostrel::cli {

// An update's events as the console shows them: JSON lines when asked; on a terminal a bar per
// module, redrawn in place, with a total line when there are several; elsewhere one plain line
// per phase and per tenth of the programming, never a control character.
class ConsoleReporter final : public UpdateReporter {
public:
    using Clock = std::chrono::steady_clock;

    explicit ConsoleReporter(Console& console);
    ~ConsoleReporter() override;

    void Start(const ModuleTarget& module, const std::string& file,
               const UpdatePlan& plan) override;
    void PhaseBegins(const ModuleTarget& module, Phase phase) override;
    void Progress(const ModuleTarget& module, std::uint32_t done, std::uint32_t total) override;
    void Retry(const ModuleTarget& module, BootCommand command, std::uint16_t send) override;
    void Again(const ModuleTarget& module, const ModuleOutcome& failed, unsigned nextTry) override;
    void End(const ModuleTarget& module, const ModuleOutcome& outcome) override;

private:
    struct Line {
        std::string module;
        const UpdatePlan* plan = nullptr;
        Clock::time_point started{};
        Clock::time_point programStarted{};
        std::string phase = "starting";
        std::uint32_t done = 0;
        std::uint32_t total = 0;
        int tenthsShown = 0;
        bool ended = false;
        std::string endText;
    };

    Line& Of(const ModuleTarget& module);
    // The event with the module named, by address and, once known, MAC.
    nlohmann::json Event(const char* name, const ModuleTarget& module) const;
    double Seconds(const Line& line) const;
    std::string BarText(const Line& line, int width) const;
    std::string TotalText() const;
    void Redraw(bool now);

    Console& console;
    bool bars;
    std::vector<Line> lines;
    int drawnLines = 0;
    Clock::time_point lastDraw{};
};

} // namespace ostrel::cli
