#pragma once

#include "cli/Command.h"

#include <CLI/CLI.hpp>
#include <string>

namespace ostrel::cli {

// history: the updates the ledger holds, newest first, as text, JSON lines or CSV.
class HistoryCommand final : public Command {
public:
    explicit HistoryCommand(CLI::App& app);

    bool Chosen() const override { return command->parsed(); }
    ExitCode Run(Console& console, const StopSignals& stop, LedgerAccess& ledger) override;

private:
    CLI::App* command;
    std::string macText;
    std::string ipText;
    std::string since;
    std::string result;
    unsigned limit = 100;
    bool csv = false;
};

} // namespace ostrel::cli
