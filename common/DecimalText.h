#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace ostrel {

// The white space of the C library's readers: blank, tab, line feed, vertical tab, form feed,
// carriage return.
constexpr bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads a decimal number the way "%d" does: blanks, one sign, digits; reading stops at the
// first other character. Nothing when no digit follows. The value wraps in 32 bits.
std::optional<std::int32_t> ScanDecimal(std::string_view text);

} // namespace ostrel
