#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace ostrel {

// A device address is host-order: a.b.c.d is a*2^24 + b*2^16 + c*2^8 + d; 0 means none.
using DeviceAddress = std::uint32_t;

// The four octets of an address or mask as the wire and the records carry them, first octet
// (the leftmost in dotted text) first.
using Octets = std::array<std::uint8_t, 4>;

std::string FormatDottedQuad(DeviceAddress address);
Octets ToOctets(DeviceAddress address);
DeviceAddress FromOctets(const Octets& octets);

} // namespace ostrel
