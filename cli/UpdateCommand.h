#pragma once

#include "cli/Command.h"
#include "fleet/FleetReport.h"
#include "fleet/FleetTargets.h"
#include "fleet/UpdateJob.h"

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::cli {

// update: program a HEX file into one module or many at once; verify: compare a module's flash
// with it and start the module. Both plan the file first, so that one that cannot be
// programmed never wakes a module.
class UpdateCommand final : public Command {
public:
    enum class Kind { Update, Verify };

    UpdateCommand(CLI::App& app, Kind kind);

    bool Chosen() const override { return command->parsed(); }
    ExitCode Run(Console& console, const StopSignals& stop, LedgerAccess& ledger) override;

private:
    // The file's plan and what the options make of it; nothing when it cannot be programmed.
    std::optional<UpdateJob> PlanJob(Console& console) const;
    bool ReadOptions(TargetChoice& choice, std::string& error) const;
    void Summarize(const std::vector<FleetUpdate::Module>& modules, bool interrupted,
                   double seconds, Console& console) const;

    Kind kind;
    CLI::App* command;
    std::string file;
    std::vector<std::string> ipTexts;
    std::string targetsFile;
    bool all = false;
    std::vector<std::string> matches;
    std::vector<std::string> interfaces;
    std::vector<std::string> toTexts;
    double waitSeconds = 2.0;
    std::size_t parallel = 0; // 0: all at once
    unsigned retries = 0;
    std::string reportFile; // .json or .csv; none when empty
    bool skipSame = false;
    bool noConfirm = false;
    std::string unlessVersion;
    std::uint16_t attempts = 0; // 0: the window's
    double timeoutScale = 1.0;
};

} // namespace ostrel::cli
