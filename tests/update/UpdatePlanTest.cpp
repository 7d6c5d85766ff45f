#include "update/UpdatePlan.h"

#include "tests/support/HexFileWriter.h"
#include "tests/support/TempDir.h"

#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using Kind = UpdatePlan::Warning::Kind;

std::vector<std::uint8_t> Data(std::size_t n, std::uint8_t first = 0) {
    std::vector<std::uint8_t> data(n);
    for (std::size_t i = 0; i < n; ++i) {
        data[i] = static_cast<std::uint8_t>(first + i);
    }
    return data;
}

// Five data records at 0x9D000000 behind an address record, and the end record: 7 lines.
test::HexFileWriter Plain() {
    test::HexFileWriter hex;
    hex.ExtendedLinear(0x1D00);
    for (int i = 0; i < 5; ++i) {
        hex.Data(static_cast<std::uint16_t>(16 * i), Data(16, static_cast<std::uint8_t>(i)));
    }
    hex.EndOfFile();
    return hex;
}

struct PlanCase {
    const char* name;
    std::function<std::string()> text;
    std::vector<std::pair<Kind, std::uint32_t>> warnings; // kind and first line
    bool programmable = true;
};

void PrintTo(const PlanCase& row, std::ostream* out) {
    *out << row.name;
}

class UpdatePlanTest : public ::testing::TestWithParam<PlanCase> {
protected:
    test::TempDir dir;
};

TEST_P(UpdatePlanTest, WarnsOfWhatIsSentButNotVerified) {
    const UpdatePlan plan = PlanUpdate(dir.Write("firmware.hex", GetParam().text()));
    ASSERT_TRUE(plan.readable);
    std::vector<std::pair<Kind, std::uint32_t>> warnings;
    for (const auto& warning : plan.warnings) {
        warnings.emplace_back(warning.kind, warning.line);
        EXPECT_FALSE(warning.text.empty());
    }
    EXPECT_EQ(warnings, GetParam().warnings);
    EXPECT_EQ(plan.Programmable(), GetParam().programmable);
}

INSTANTIATE_TEST_SUITE_P(
    Files, UpdatePlanTest,
    ::testing::Values(
        PlanCase{"Plain", [] { return Plain().Text(); }, {}},
        PlanCase{"ABlankLineEndsTheImage",
                 [] {
                     std::string text = Plain().Text();
                     const auto third = text.find(':', text.find(':', text.find(':') + 1) + 1);
                     // A character, not a string: GCC 12 warns falsely on the latter at -O3.
                     text.insert(text.begin() + static_cast<std::ptrdiff_t>(third), '\n');
                     return text;
                 },
                 {{Kind::BuildEndsEarly, 3}}},
        PlanCase{"ALineTooLongForTheBuild",
                 [] {
                     test::HexFileWriter hex;
                     hex.ExtendedLinear(0x1D00);
                     hex.Data(0, Data(200));
                     hex.Data(0x100, Data(16));
                     return hex.Text();
                 },
                 {{Kind::BuildEndsEarly, 2}}},
        PlanCase{"BootRegionRecords",
                 [] {
                     test::HexFileWriter hex = Plain();
                     hex.ExtendedLinear(0x1FC0);
                     hex.Data(0, Data(16));
                     hex.Data(16, Data(16));
                     return hex.Text();
                 },
                 {{Kind::BootRegion, 9}}},
        PlanCase{"RecordsBesideTheProgramMemory",
                 [] {
                     test::HexFileWriter hex;
                     hex.ExtendedLinear(0x1C00);
                     hex.Data(0, Data(16));
                     hex.ExtendedLinear(0x1D00);
                     hex.Data(0, Data(16));
                     return hex.Text();
                 },
                 {{Kind::OutsideProgramMemory, 2}}},
        PlanCase{"BadChecksums",
                 [] {
                     std::string text = Plain().Text();
                     const auto second = text.find('\n') + 1;
                     const auto end = text.find('\n', second);
                     text[end - 1] = text[end - 1] == '0' ? '1' : '0';
                     return text;
                 },
                 {{Kind::BadChecksum, 2}}},
        PlanCase{"NothingInTheProgramMemory",
                 [] {
                     test::HexFileWriter hex;
                     hex.ExtendedLinear(0x1FC0);
                     hex.Data(0, Data(16));
                     return hex.Text();
                 },
                 {{Kind::BootRegion, 2}, {Kind::NothingToVerify, 0}},
                 false},
        PlanCase{"OnlyAnEndRecord",
                 [] { return std::string(":00000001FF\n"); },
                 {{Kind::NothingToVerify, 0}},
                 false},
        PlanCase{"OnlyComments",
                 [] { return std::string("# firmware\n# none\n"); },
                 {{Kind::NothingToVerify, 0}},
                 false},
        PlanCase{"Empty", [] { return std::string(); }, {{Kind::NothingToVerify, 0}}, false},
        PlanCase{"Binary",
                 [] {
                     return std::string("\x7F"
                                        "ELF\x02\x01\x01\0\0\0",
                                        10);
                 },
                 {{Kind::NothingToVerify, 0}},
                 false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(UpdatePlanCountsTest, CountsWhatAnUpdateSends) {
    test::TempDir dir;
    const auto hex = test::MakeFirmware(64 * 1024, 16);
    const std::string path = dir.Write("firmware.hex", hex.Text());
    const UpdatePlan plan = PlanUpdate(path);
    EXPECT_EQ(plan.lines, hex.LineCount());
    EXPECT_EQ(plan.recordLines, hex.LineCount());
    EXPECT_EQ(plan.recordsByType[0], 4096u);
    EXPECT_EQ(plan.recordsByType[4], 1u);
    EXPECT_EQ(plan.recordsByType[1], 1u);
    EXPECT_EQ(plan.dataBytes, 64u * 1024u);
    EXPECT_EQ(plan.programFrames, (hex.LineCount() + 10) / 11);
    EXPECT_GT(plan.largestFrame, 11u * 21u) << "SOH, eleven records, CRC, EOT";
    EXPECT_LE(plan.largestFrame, 1000u);
    HexImage image;
    ASSERT_TRUE(image.Open(path));
    const auto built = image.Build();
    EXPECT_EQ(plan.verify.start, 0x9D000000u);
    EXPECT_EQ(plan.verify.length, 64u * 1024u);
    EXPECT_EQ(plan.verify.crc, built.crc);
    EXPECT_TRUE(plan.warnings.empty());
}

TEST(UpdatePlanCountsTest, AMissingFileIsNotReadable) {
    EXPECT_FALSE(PlanUpdate("/nonexistent/firmware.hex").readable);
}

} // namespace
} // namespace ostrel
