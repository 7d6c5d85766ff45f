#include "common/DeviceAddress.h"

#include <cstdio>

namespace ostrel {

std::string FormatDottedQuad(DeviceAddress address) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%u.%u.%u.%u", (address >> 24) & 0xFFu,
                  (address >> 16) & 0xFFu, (address >> 8) & 0xFFu, address & 0xFFu);
    return text.data();
}

DeviceAddress FromOctets(const Octets& octets) {
    return DeviceAddress{octets[0]} << 24 | DeviceAddress{octets[1]} << 16 |
           DeviceAddress{octets[2]} << 8 | octets[3];
}

Octets ToOctets(DeviceAddress address) {
    return {static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
            static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
}

} // namespace ostrel
