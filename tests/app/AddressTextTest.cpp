#include "app/AddressText.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

constexpr DeviceAddress Address(std::uint32_t a, std::uint32_t b, std::uint32_t c,
                                std::uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

struct StrictCase {
    const char* text;
    DottedQuadResult result;
    DeviceAddress address;
};

class ParseDottedQuadTest : public ::testing::TestWithParam<StrictCase> {};

TEST_P(ParseDottedQuadTest, ReadsAddressAndResult) {
    const StrictCase& c = GetParam();
    DeviceAddress address = 0xDEADBEEF;
    EXPECT_EQ(ParseDottedQuad(c.text, address), c.result);
    EXPECT_EQ(address, c.address);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseDottedQuadTest,
    ::testing::Values(StrictCase{"192.168.2.242", DottedQuadResult::Parsed,
                                 Address(192, 168, 2, 242)},
                      StrictCase{"0.0.0.1", DottedQuadResult::Parsed, 1},
                      StrictCase{"255.255.255.255", DottedQuadResult::Parsed, 0xFFFFFFFF},
                      StrictCase{"010.001.002.003", DottedQuadResult::Parsed, Address(10, 1, 2, 3)},
                      StrictCase{"1.2.3.300", DottedQuadResult::Parsed, Address(1, 2, 4, 44)},
                      StrictCase{"1.2.3.4abc", DottedQuadResult::Parsed, Address(1, 2, 3, 4)},
                      StrictCase{" 1.+2.3.4", DottedQuadResult::Parsed, Address(1, 2, 3, 4)},
                      StrictCase{"1.2.3.-1", DottedQuadResult::Parsed, Address(1, 2, 2, 255)},
                      StrictCase{"1..2.34", DottedQuadResult::Parsed, Address(1, 0, 2, 34)},
                      StrictCase{"a.b.c.d", DottedQuadResult::Parsed, 0},
                      StrictCase{"1.2.3", DottedQuadResult::BadLength, 0},
                      StrictCase{"", DottedQuadResult::BadLength, 0},
                      StrictCase{"1111.2222.3333.4", DottedQuadResult::BadLength, 0},
                      StrictCase{"10.20.30", DottedQuadResult::BadDotCount, 0},
                      StrictCase{"1.2.3.4.5", DottedQuadResult::BadDotCount, 0},
                      StrictCase{"12345678", DottedQuadResult::BadDotCount, 0}));

struct LooseCase {
    const char* text;
    DeviceAddress address;
};

class ParseAddressLooseTest : public ::testing::TestWithParam<LooseCase> {};

TEST_P(ParseAddressLooseTest, ReadsAddress) {
    EXPECT_EQ(ParseAddressLoose(GetParam().text), GetParam().address) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseAddressLooseTest,
                         ::testing::Values(LooseCase{"192.168.2.5 -A", Address(192, 168, 2, 5)},
                                           LooseCase{" 10.0.0.7", Address(10, 0, 0, 7)},
                                           LooseCase{"1.2.3.4.5", Address(1, 2, 3, 4)},
                                           LooseCase{"", 0}, LooseCase{"7", 7},
                                           // A last part above 255 spills into the third byte.
                                           LooseCase{"1.2.3.300", Address(1, 2, 3, 0) | 300},
                                           // Blanks and hyphens before the third dot are skipped.
                                           LooseCase{"1 0.-2.3.4", Address(10, 2, 3, 4)},
                                           LooseCase{"1.2.3.4-x.5", Address(1, 2, 3, 4)},
                                           LooseCase{"a1b.c2.3x.4", Address(1, 2, 3, 4)},
                                           // Parts wrap modulo 65536 before they are shifted in.
                                           LooseCase{"65537.0.0.0", Address(1, 0, 0, 0)}));

TEST(FormatDottedQuadTest, WritesFourDecimalParts) {
    EXPECT_EQ(FormatDottedQuad(Address(192, 168, 2, 242)), "192.168.2.242");
    EXPECT_EQ(FormatDottedQuad(0), "0.0.0.0");
    EXPECT_EQ(FormatDottedQuad(0xFFFFFFFF), "255.255.255.255");
}

TEST(FormatDottedQuadTest, RoundTripsThroughTheStrictParser) {
    for (const DeviceAddress address : {Address(1, 2, 3, 4), Address(10, 0, 0, 1),
                                        Address(255, 0, 255, 0), Address(0, 0, 0, 1)}) {
        DeviceAddress parsed = 0;
        ASSERT_EQ(ParseDottedQuad(FormatDottedQuad(address), parsed), DottedQuadResult::Parsed);
        EXPECT_EQ(parsed, address);
    }
}

} // namespace
} // namespace ostrel
