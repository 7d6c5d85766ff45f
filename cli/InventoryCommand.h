#pragma once

#include "cli/Command.h"
#include "fleet/FleetDiscovery.h"

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace ostrel::cli {

// inventory: the last known state of every module the ledger heard of, by MAC; with --scan a
// discovery first, and what changed since the scan before.
class InventoryCommand final : public Command {
public:
    explicit InventoryCommand(CLI::App& app);

    bool Chosen() const override { return command->parsed(); }
    ExitCode Run(Console& console, const StopSignals& stop, LedgerAccess& ledger) override;

private:
    CLI::App* command;
    bool scan = false;
    DiscoveryChoice choice;
    std::vector<std::string> toTexts;
    bool csv = false;
};

} // namespace ostrel::cli
