#pragma once

#include "cli/Command.h"
#include "common/DeviceAddress.h"
#include "devices/ManagementDatagrams.h"

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

namespace ostrel::cli {

// What settings set was asked to change; the rest stays as the module reports it.
struct SettingsChange {
    std::optional<DeviceAddress> staticIp;
    std::optional<DeviceAddress> mask;
    std::optional<bool> dhcp;
    std::optional<std::uint16_t> port;
    std::optional<std::uint16_t> pid;
    std::optional<std::string> identification;
};

// settings get: the setup dialog's read; settings set: a write only when the setup dialog's
// change test says something changed, then a read back.
class SettingsCommand final : public Command {
public:
    explicit SettingsCommand(CLI::App& app);

    bool Chosen() const override { return command->parsed(); }
    ExitCode Run(Console& console, const StopSignals& stop, LedgerAccess& ledger) override;

private:
    bool ReadChange(SettingsChange& change, std::string& error) const;
    static ExitCode Get(DeviceAddress module, Console& console, const StopSignals& stop);
    static ExitCode Set(DeviceAddress module, const SettingsChange& change, Console& console,
                        const StopSignals& stop, LedgerRecorder& recorder);
    // Says in result how it went, for the ledger.
    static ExitCode WriteAndReadBack(DeviceAddress module, const ModuleConfig& config,
                                     Console& console, const StopSignals& stop,
                                     std::string& result);

    CLI::App* command;
    CLI::App* getCommand;
    CLI::App* setCommand;
    std::string ipText;
    std::string staticIpText, maskText, dhcpText, portText, pidText, identText;
};

} // namespace ostrel::cli
