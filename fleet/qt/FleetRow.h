#pragma once

#include "common/DeviceAddress.h"

#include <string>

namespace ostrel {

// One module as the fleet window shows it: what the ledger and the last scan or read told,
// and, while it is being updated, how far it is.
struct FleetRow {
    std::string mac; // empty for an address nobody has read yet
    DeviceAddress address = 0;
    std::string name;
    std::string version;
    std::string identification;
    std::string interfaceName;
    bool dhcp = false;
    std::string lastSeen;
    std::string lastUpdate;
    std::string lastResult;
    bool answering = true;      // it answered the last scan or read
    bool addressShared = false; // another module answered at its address: no update for it
    // What is odd about it, for its tooltip: two MACs with one address, an address outside its
    // interface's subnet. Empty when nothing is.
    std::string warning;
    // While an update or verify runs on it, and once it has ended.
    std::string phase;
    int percent = -1; // no bar
    std::string outcome;
};

} // namespace ostrel
