#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ostrel::test {

using Bytes = std::vector<std::uint8_t>;

// "01 02 0A" -> {0x01, 0x02, 0x0A}; blanks and line breaks between bytes are ignored.
Bytes HexBytes(const std::string& text);
std::string ToHex(std::span<const std::uint8_t> bytes);

// Compares two byte sequences and, on a difference, shows both in hex with the first
// differing offset marked.
::testing::AssertionResult BytesEqual(const char* expectedExpr, const char* actualExpr,
                                      std::span<const std::uint8_t> expected,
                                      std::span<const std::uint8_t> actual);

} // namespace ostrel::test

#define EXPECT_BYTES_EQ(expected, actual)                                                          \
    EXPECT_PRED_FORMAT2(::ostrel::test::BytesEqual, expected, actual)
