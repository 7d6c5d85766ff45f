#pragma once

#include "devices/DeviceList.h"
#include "fleet/ExitCode.h"
#include "fleet/FleetDiscovery.h"
#include "fleet/FleetListener.h"

#include <chrono>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace ostrel {

// The modules an update is for, as the user named them: addresses, a targets file (one address
// or MAC per line, # comments), or a discovery run first (all, or FIELD=TEXT matches), which
// also resolves MACs.
struct TargetChoice {
    std::vector<DeviceAddress> addresses;
    std::string targetsFile;
    bool all = false;
    std::vector<std::string> matches;
    DiscoveryChoice discovery;
};

// One module of a fleet, with what discovery or a first read told of it.
struct FleetTarget {
    DeviceAddress address = 0;
    std::optional<MacAddress> mac;
    std::string name;
    std::string versionBefore;
};

// A module as the user named it: by address or by MAC.
struct TargetName {
    std::optional<DeviceAddress> address;
    std::optional<MacAddress> mac;
};

// A targets file: one address or MAC per line; blank lines and # comments are skipped. False,
// with the reason told, when it cannot be read or a line is neither.
bool ReadTargetsFile(const std::string& path, std::vector<TargetName>& named, Notices& notices);

// The targets, each address once, in the order named. A MAC that no module answers for, two
// MACs with one address, an empty selection or a bad targets file end the run before anything
// is sent: then the exit code, with the reason told to the notices.
// What a discovery heard goes into the ledger, when one is given.
std::variant<std::vector<FleetTarget>, ExitCode> ResolveTargets(const TargetChoice& choice,
                                                                Notices& notices, int stopFd,
                                                                LedgerRecorder* ledger = nullptr);

// The targets as the fleet's updates name them.
std::vector<ModuleTarget> ModuleTargetsOf(const std::vector<FleetTarget>& targets);

// One read request exchange with each module at once that has no version yet, for at most the
// time given: what the module ran before its update.
void ReadVersionsBefore(std::vector<FleetTarget>& targets, std::chrono::milliseconds limit,
                        int stopFd);

} // namespace ostrel
