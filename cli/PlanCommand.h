#pragma once

#include "cli/Command.h"

#include <CLI/CLI.hpp>
#include <string>

namespace ostrel::cli {

// plan: what an update of a file would send and verify, and its warnings; no network.
class PlanCommand final : public Command {
public:
    explicit PlanCommand(CLI::App& app);

    bool Chosen() const override { return command->parsed(); }
    ExitCode Run(Console& console, const StopSignals& stop, LedgerAccess& ledger) override;

private:
    CLI::App* command;
    std::string file;
};

} // namespace ostrel::cli
