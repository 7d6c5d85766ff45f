#pragma once

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "cli/StopSignals.h"
#include "devices/DiscoveryScan.h"

#include <vector>

namespace ostrel::cli {

// One discovery, for `discover` and for an update's --all, --match and MACs: a read request out
// of every interface that can broadcast (or those named) and to each named address, then every
// answer until the wait ends or a stop comes.
struct DiscoveryRun {
    // Usage: a named interface cannot broadcast; Failed: no request could be sent;
    // Interrupted: a stop came while waiting. Each is told on the console.
    ExitCode failure = ExitCode::Done;
    std::vector<DiscoveredModule> modules;
};
DiscoveryRun RunDiscovery(const DiscoverArguments& arguments, Console& console,
                          const StopSignals& stop);

} // namespace ostrel::cli
