#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ostrel {

// A device address is host-order: a.b.c.d is a*2^24 + b*2^16 + c*2^8 + d; 0 means none.
using DeviceAddress = std::uint32_t;

enum class DottedQuadResult {
    Parsed = 0,
    BadLength = 1,
    BadDotCount = 2,
};

std::string FormatDottedQuad(DeviceAddress address);

// Strict parser for stored text. The parts wrap in 32 bits without a range check
// (1.2.3.300 reads as 1.2.4.44), as stored files have always been read.
DottedQuadResult ParseDottedQuad(std::string_view text, DeviceAddress& address);

// Lenient parser for the -I option: reads past the end of its word and never fails.
DeviceAddress ParseAddressLoose(std::string_view text);

} // namespace ostrel
