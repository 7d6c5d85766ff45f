#include "devices/MacText.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

TEST(MacTextTest, WritesUpperCaseWithDashes) {
    EXPECT_EQ(MacText({0x00, 0x50, 0xC2, 0x0a, 0xff, 0x01}), "00-50-C2-0A-FF-01");
}

TEST(MacTextTest, ReadsDashesOrColonsInEitherCaseAndNothingElse) {
    const MacAddress mac{0x00, 0x50, 0xC2, 0x0A, 0xFF, 0x01};
    const struct {
        const char* text;
        std::optional<MacAddress> expected;
    } cases[] = {
        {"00-50-C2-0A-FF-01", mac},
        {"00:50:c2:0a:ff:01", mac},
        {"00-50:C2-0a:FF-01", mac},
        {"00-50-C2-0A-FF-1", std::nullopt},   // short
        {"00-50-C2-0A-FF-011", std::nullopt}, // long
        {"00.50.C2.0A.FF.01", std::nullopt},  // separator
        {"00-50-C2-0A-FF-0G", std::nullopt},  // not hexadecimal
        {"00-50-C2-0A-FF- 1", std::nullopt},  // blank in a pair
        {"00-50-C2-0A-FF-+1", std::nullopt},  // sign
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseMac(c.text), c.expected) << c.text;
    }
}

TEST(MacTextTest, WhatItWritesItReads) {
    const MacAddress mac{0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x7F};
    EXPECT_EQ(ParseMac(MacText(mac)), mac);
}

} // namespace
} // namespace ostrel
