#pragma once

#include <cstdint>
#include <string>

namespace ostrel {

// Upper-case hexadecimal with at least `digits` digits, zero-filled: HexDigits(0xB71, 4) is
// "0B71", HexText(0xB71, 4) is "0x0B71".
std::string HexDigits(std::uint32_t value, int digits);
std::string HexText(std::uint32_t value, int digits);

} // namespace ostrel
