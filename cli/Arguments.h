#pragma once

#include "common/DottedAddress.h"
#include "fleet/FleetDiscovery.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::cli {

// The console's readings of its arguments: strict, and each refusal says why in error. The
// addresses of modules (--ip) and others (--to, --static-ip) are read as common/DottedAddress.h
// reads them.
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

// Every text read by the parser into the list; false at the first refusal.
template <typename T>
bool ReadEach(std::optional<T> (*parse)(std::string_view, std::string&),
              const std::vector<std::string>& texts, std::vector<T>& into, std::string& error) {
    for (const std::string& text : texts) {
        const auto value = parse(text, error);
        if (!value) {
            return false;
        }
        into.push_back(*value);
    }
    return true;
}

// A discovery's options, alike for discover and for an update's selection: the wait, and the
// addresses asked directly (--to).
bool ReadDiscoveryChoice(const std::vector<std::string>& toTexts, DiscoveryChoice& into,
                         std::string& error);

} // namespace ostrel::cli
