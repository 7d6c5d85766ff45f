#pragma once

#include "common/DeviceAddress.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel::cli {

// The console's readings of its arguments: strict, and each refusal says why in error.
// A module's address: four decimal octets. 0.0.0.0 and 255.255.255.255 are refused: a
// broadcast must never receive frames.
std::optional<DeviceAddress> ParseModuleAddress(std::string_view text, std::string& error);
// Any dotted address, for --to and --static-ip.
std::optional<DeviceAddress> ParseDottedAddress(std::string_view text, std::string& error);
// A subnet mask: a dotted address whose ones come first.
std::optional<DeviceAddress> ParseSubnetMask(std::string_view text, std::string& error);
// A USB product ID as the setup dialog offers them: 0B70 to 0B77 (hexadecimal).
std::optional<std::uint16_t> ParseUsbPid(std::string_view text, std::string& error);
// A reception port, 1 to 65535.
std::optional<std::uint16_t> ParsePort(std::string_view text, std::string& error);
// An identification: at most 13 printable ASCII characters.
std::optional<std::string> ParseIdentification(std::string_view text, std::string& error);
// on or off.
std::optional<bool> ParseOnOff(std::string_view text, std::string& error);

} // namespace ostrel::cli
