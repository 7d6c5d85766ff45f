#pragma once

#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "cli/StopSignals.h"
#include "common/DeviceAddress.h"
#include "update/UpdateOptions.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::cli {

struct DiscoverArguments {
    std::vector<std::string> interfaces; // none: every one that can broadcast
    std::vector<DeviceAddress> targets;
    double waitSeconds = 2.0;
};

struct UpdateArguments {
    std::string file;
    // The modules: addresses, a targets file, or a discovery's --all or --match.
    std::vector<DeviceAddress> modules;
    std::string targetsFile;
    bool all = false;
    std::vector<std::string> matches;
    DiscoverArguments discovery;

    UpdateMode mode = UpdateMode::Program;
    bool confirm = true;
    std::uint16_t attempts = 0; // 0: the window's
    double timeoutScale = 1.0;
    std::size_t parallel = 0; // 0: all at once
    unsigned retries = 0;
    std::string reportFile; // .json or .csv; none when empty
};
ExitCode RunUpdate(const UpdateArguments& arguments, Console& console, const StopSignals& stop);

ExitCode RunPlan(const std::string& file, Console& console);
ExitCode RunDiscover(const DiscoverArguments& arguments, Console& console, const StopSignals& stop);

struct SettingsChange {
    std::optional<DeviceAddress> staticIp;
    std::optional<DeviceAddress> mask;
    std::optional<bool> dhcp;
    std::optional<std::uint16_t> port;
    std::optional<std::uint16_t> pid;
    std::optional<std::string> identification;
};
ExitCode RunSettingsGet(DeviceAddress module, Console& console, const StopSignals& stop);
ExitCode RunSettingsSet(DeviceAddress module, const SettingsChange& change, Console& console,
                        const StopSignals& stop);

ExitCode RunIdent(DeviceAddress module, bool on, Console& console);

} // namespace ostrel::cli
