#pragma once

#include "devices/ManagementDatagrams.h"

#include <chrono>
#include <optional>
#include <vector>

namespace ostrel {

// One read request exchange with each module at once, by unicast alone, for at most the time
// given or until stopFd becomes readable: each module's reply, or nothing where none came.
std::vector<std::optional<ManagementReply>>
ReadModules(const std::vector<DeviceAddress>& modules, std::chrono::milliseconds limit, int stopFd);

} // namespace ostrel
