#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel::sim {

// The values the simulator's options take, read strictly: nothing before or after the value.

// Decimal, or hexadecimal after 0x; at most max.
std::optional<std::uint64_t> ParseNumber(std::string_view text, std::uint64_t max);
// Dotted IPv4, first octet first.
std::optional<std::array<std::uint8_t, 4>> ParseAddress(const std::string& text);
// Six hex pairs, each after the first behind '-' or ':'.
std::optional<std::array<std::uint8_t, 6>> ParseMac(std::string_view text);
// A decimal fraction from 0 to 1.
std::optional<double> ParseProbability(std::string_view text);

} // namespace ostrel::sim
