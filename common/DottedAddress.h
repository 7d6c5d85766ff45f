#pragma once

#include "common/DeviceAddress.h"

#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// Strict readings of dotted addresses, for what a user names; each refusal says why in error.
// Any dotted address (four decimal octets).
std::optional<DeviceAddress> ParseDottedAddress(std::string_view text, std::string& error);
// A module's address: 0.0.0.0 and 255.255.255.255 are refused, as a broadcast must never receive
// frames.
std::optional<DeviceAddress> ParseModuleAddress(std::string_view text, std::string& error);

} // namespace ostrel
