#pragma once

#include "cli/Command.h"
#include "common/DeviceAddress.h"

#include <CLI/CLI.hpp>
#include <string>

namespace ostrel::cli {

// ident on|off: one identify datagram to the module.
class IdentCommand final : public Command {
public:
    explicit IdentCommand(CLI::App& app);

    bool Chosen() const override { return command->parsed(); }
    ExitCode Run(Console& console, const StopSignals& stop, LedgerAccess& ledger) override;

private:
    static ExitCode Switch(DeviceAddress module, bool on, Console& console);

    CLI::App* command;
    std::string stateText;
    std::string ipText;
};

} // namespace ostrel::cli
