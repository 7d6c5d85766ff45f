#include "tests/support/Bytes.h"

#include <cstdio>
#include <stdexcept>

namespace ostrel::test {

Bytes HexBytes(const std::string& text) {
    Bytes bytes;
    std::string digits;
    for (const char c : text) {
        if (c == ' ' || c == '\n' || c == '\t') {
            continue;
        }
        digits += c;
        if (digits.size() == 2) {
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits, nullptr, 16)));
            digits.clear();
        }
    }
    if (!digits.empty()) {
        throw std::invalid_argument("odd number of hex digits: " + text);
    }
    return bytes;
}

std::string ToHex(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X ", byte);
        text += pair;
    }
    if (!text.empty()) {
        text.pop_back();
    }
    return text;
}

::testing::AssertionResult BytesEqual(const char* expectedExpr, const char* actualExpr,
                                      std::span<const std::uint8_t> expected,
                                      std::span<const std::uint8_t> actual) {
    std::size_t first = 0;
    while (first < expected.size() && first < actual.size() && expected[first] == actual[first]) {
        ++first;
    }
    if (first == expected.size() && first == actual.size()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << actualExpr << " differs from " << expectedExpr << " at offset " << first << "\n"
           << "  expected (" << expected.size() << " bytes): " << ToHex(expected) << "\n"
           << "  actual   (" << actual.size() << " bytes): " << ToHex(actual);
}

} // namespace ostrel::test
