#pragma once

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "cli/StopSignals.h"
#include "devices/DeviceList.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace ostrel::cli {

// The modules an update is for, as the user named them: addresses, a targets file (one address
// or MAC per line, # comments), or a discovery run first (--all, --match FIELD=TEXT), which
// also resolves MACs.
struct TargetChoice {
    std::vector<DeviceAddress> addresses;
    std::string targetsFile;
    bool all = false;
    std::vector<std::string> matches;
    DiscoverArguments discovery;
};

// One module of a fleet, with what discovery or a first read told of it.
struct FleetTarget {
    DeviceAddress address = 0;
    std::optional<MacAddress> mac;
    std::string name;
    std::string versionBefore;
};

// Reads a --match: FIELD=TEXT with a field of name, identification, version or mac. Nothing,
// with the reason, for anything else.
struct TargetMatch {
    enum class Field { Name, Identification, Version, MacPrefix };
    Field field;
    std::string text;
};
std::optional<TargetMatch> ParseTargetMatch(std::string_view text, std::string& error);
// Whether a module's reply meets a match: name, identification and version as shell patterns
// (trailing blanks of the identification ignored), the MAC by its first bytes.
bool Matches(const TargetMatch& match, const ManagementReply& reply);

// The targets, each address once, in the order named. A MAC that no module answers for, two
// MACs with one address, an empty selection or a bad targets file end the run before anything
// is sent: then the exit code, with the reason said.
std::variant<std::vector<FleetTarget>, ExitCode>
ResolveTargets(const TargetChoice& choice, Console& console, const StopSignals& stop);

// One read request exchange with each module at once that has no version yet, for at most the
// time given: what the module ran before its update.
void ReadVersionsBefore(std::vector<FleetTarget>& targets, std::chrono::milliseconds limit,
                        const StopSignals& stop);

} // namespace ostrel::cli
