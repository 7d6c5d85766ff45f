#pragma once

#include "common/DeviceAddress.h"

#include <string>
#include <vector>

namespace ostrel {

// An IPv4 interface that is up and can broadcast.
struct NetworkInterface {
    std::string name;
    unsigned index = 0;
    DeviceAddress address = 0;
    DeviceAddress netmask = 0;
    DeviceAddress broadcast = 0; // the directed broadcast address of its subnet

    bool InSubnet(DeviceAddress other) const { return (other & netmask) == (address & netmask); }
};

// Every interface of this machine (of its network namespace) that discovery can broadcast on.
std::vector<NetworkInterface> BroadcastInterfaces();

} // namespace ostrel
