#pragma once

#include "common/DeviceAddress.h"

#include <string_view>

namespace ostrel {

enum class DottedQuadResult {
    Parsed = 0,
    BadLength = 1,
    BadDotCount = 2,
};

// Strict parser for stored text. The parts wrap in 32 bits without a range check
// (1.2.3.300 reads as 1.2.4.44), as stored files have always been read.
DottedQuadResult ParseDottedQuad(std::string_view text, DeviceAddress& address);

// Lenient parser for the -I option: reads past the end of its word and never fails.
DeviceAddress ParseAddressLoose(std::string_view text);

} // namespace ostrel
