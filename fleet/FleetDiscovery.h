#pragma once

#include "devices/DiscoveryScan.h"
#include "fleet/ExitCode.h"
#include "fleet/FleetListener.h"
#include "ledger/LedgerRecorder.h"

#include <string>
#include <vector>

namespace ostrel {

// Where a discovery asks.
struct DiscoveryChoice {
    std::vector<std::string> interfaces; // none: every one that can broadcast
    std::vector<DeviceAddress> targets;  // asked directly besides
    double waitSeconds = 2.0;
};

// One discovery, for listing modules and for choosing a fleet's (all, matches, MACs): a read
// request out of every interface that can broadcast (or those named) and to each named
// address, then every answer until the wait ends or stopFd becomes readable. What it heard goes
// into the ledger, when one is given.
struct DiscoveryRun {
    // Usage: a named interface cannot broadcast; Failed: no request could be sent;
    // Interrupted: a stop came while waiting. Each is told to the notices.
    ExitCode failure = ExitCode::Done;
    std::vector<DiscoveredModule> modules;
};
DiscoveryRun RunDiscovery(const DiscoveryChoice& choice, Notices& notices, int stopFd,
                          LedgerRecorder* ledger = nullptr);

} // namespace ostrel
