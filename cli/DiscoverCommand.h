#pragma once

#include "cli/Command.h"
#include "fleet/FleetDiscovery.h"

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace ostrel::cli {

// discover: a read request out of every interface that can broadcast (or those named) and to
// each --to address; each module that answers is listed once, with its flags.
class DiscoverCommand final : public Command {
public:
    explicit DiscoverCommand(CLI::App& app);

    bool Chosen() const override { return command->parsed(); }
    ExitCode Run(Console& console, const StopSignals& stop, LedgerAccess& ledger) override;

private:
    CLI::App* command;
    DiscoveryChoice choice;
    std::vector<std::string> toTexts;
};

} // namespace ostrel::cli
