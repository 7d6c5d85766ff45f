#pragma once

#include "devices/DeviceList.h"

#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// A MAC address as the console and the simulator write it: XX-XX-XX-XX-XX-XX, upper case.
std::string MacText(const MacAddress& mac);

// XX-XX-XX-XX-XX-XX or with colons, hexadecimal in either case; nothing for anything else.
std::optional<MacAddress> ParseMac(std::string_view text);

} // namespace ostrel
