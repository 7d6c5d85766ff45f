#include "image/HexImage.h"

#include "image/Crc16.h"
#include "tests/support/Bytes.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/TempDir.h"

#include <map>
#include <random>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using test::Bytes;
using test::HexFileWriter;

constexpr std::uint32_t imageBase = HexImage::imageBase;

class HexImageTest : public ::testing::Test {
protected:
    // Opens a file with the given text in a fresh HexImage.
    HexImage& Load(const std::string& text) {
        image = std::make_unique<HexImage>();
        EXPECT_TRUE(image->Open(dir.Write("firmware.hex", text)));
        return *image;
    }
    HexImage& Load(const HexFileWriter& writer) { return Load(writer.Text()); }

    std::uint8_t ImageByte(std::uint32_t address) const {
        return image->Image()[address - imageBase];
    }

    test::TempDir dir;
    std::unique_ptr<HexImage> image;
};

Bytes Pattern(std::size_t size, std::uint8_t first = 0x10) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

TEST_F(HexImageTest, LinearAddressLandsInTheProgramSegment) {
    HexFileWriter hex;
    hex.ExtendedLinear(0x1D00);
    hex.Data(0x0000, Pattern(4));
    hex.EndOfFile();
    const auto result = Load(hex).Build();
    EXPECT_EQ(result.start, 0x9D000000u);
    EXPECT_EQ(result.length, 4u);
    EXPECT_BYTES_EQ(Pattern(4), image->Image().first(4));
    EXPECT_EQ(result.crc, Crc16(Pattern(4)));
}

TEST_F(HexImageTest, BootRegionIsLeftOutOfImageAndRange) {
    HexFileWriter hex;
    hex.ExtendedLinear(0x1D00);
    hex.Data(0x0100, Pattern(4));
    hex.ExtendedLinear(0x1FC0);
    hex.Data(0x0000, Pattern(16, 0x80));
    const auto result = Load(hex).Build();
    EXPECT_EQ(result.start, 0x9D000100u);
    EXPECT_EQ(result.length, 4u);
    // Only the first record's bytes differ from the erased value anywhere in the image.
    const auto all = image->Image();
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [](std::uint8_t b) { return b != 0xFF; }), 4);
}

TEST_F(HexImageTest, SegmentAddressesFallBelowTheImageAndAreLeftOut) {
    // 0x1000 * 16 + 0x0010 with the segment bit gives 0x80010010, below the image.
    HexFileWriter hex;
    hex.ExtendedSegment(0x1000);
    hex.Data(0x0010, Pattern(8));
    const auto result = Load(hex).Build();
    EXPECT_EQ(result.start, 0u);
    EXPECT_EQ(result.length, 0u);
    EXPECT_EQ(result.crc, 0u);
}

TEST_F(HexImageTest, SegmentRecordResetsTheLinearBase) {
    HexFileWriter hex;
    hex.ExtendedLinear(0x1D00);
    hex.ExtendedSegment(0x0000);
    hex.Data(0x0000, Pattern(4)); // 0x80000000: outside
    hex.ExtendedLinear(0x1D00);
    hex.Data(0x0040, Pattern(4)); // inside
    const auto result = Load(hex).Build();
    EXPECT_EQ(result.start, 0x9D000040u);
    EXPECT_EQ(result.length, 4u);
}

TEST_F(HexImageTest, EndOfFileRecordDoesNotEndTheBuild) {
    HexFileWriter hex;
    hex.EndOfFile();
    hex.ExtendedLinear(0x1D00);
    hex.Data(0x0020, Pattern(4));
    const auto result = Load(hex).Build();
    EXPECT_EQ(result.start, 0x9D000020u);
    EXPECT_EQ(ImageByte(0x9D000020), 0x10);
}

TEST_F(HexImageTest, OtherRecordTypesResetBothBases) {
    HexFileWriter hex;
    hex.ExtendedLinear(0x1D00);
    const std::uint8_t startAddress[] = {0x9D, 0x00, 0x10, 0x00};
    hex.Record(5, 0, startAddress);
    hex.Data(0x0020, Pattern(4)); // base 0 again: 0x80000020, outside
    const auto result = Load(hex).Build();
    EXPECT_EQ(result.length, 0u);
}

TEST_F(HexImageTest, UsedRangeIsAlignedToFourBytes) {
    HexFileWriter hex;
    hex.ExtendedLinear(0x1D00);
    hex.Data(0x0002, Pattern(15)); // 0x9D000002 .. end 0x9D000011
    const auto result = Load(hex).Build();
    EXPECT_EQ(result.start, 0x9D000000u);
    EXPECT_EQ(result.length, 0x14u);
    Bytes expected = {0xFF, 0xFF};
    const Bytes data = Pattern(15);
    expected.insert(expected.end(), data.begin(), data.end());
    expected.insert(expected.end(), {0xFF, 0xFF, 0xFF});
    EXPECT_EQ(result.crc, Crc16(expected));
}

TEST_F(HexImageTest, LaterRecordsOverwriteEarlierOnes) {
    HexFileWriter hex;
    hex.ExtendedLinear(0x1D00);
    hex.Data(0x0000, Pattern(8, 0x00));
    hex.Data(0x0004, Pattern(2, 0xA0));
    Load(hex).Build();
    EXPECT_BYTES_EQ(test::HexBytes("00 01 02 03 A0 A1 06 07"), image->Image().first(8));
}

TEST_F(HexImageTest, LowerCaseDigitsDecodeLikeUpperCase) {
    HexFileWriter upper;
    upper.ExtendedLinear(0x1D00);
    upper.Data(0x0000, test::HexBytes("AB CD EF 0A"));
    HexFileWriter lower;
    lower.lowerCase = true;
    lower.ExtendedLinear(0x1D00);
    lower.Data(0x0000, test::HexBytes("AB CD EF 0A"));
    const auto upperResult = Load(upper).Build();
    const auto lowerResult = Load(lower).Build();
    EXPECT_EQ(upperResult.crc, lowerResult.crc);
    EXPECT_BYTES_EQ(test::HexBytes("AB CD EF 0A"), image->Image().first(4));
}

TEST_F(HexImageTest, BlankLineEndsTheBuild) {
    HexFileWriter hex;
    hex.ExtendedLinear(0x1D00);
    hex.Data(0x0000, Pattern(4));
    hex.Line("");
    hex.Data(0x0100, Pattern(4));
    const auto result = Load(hex).Build();
    EXPECT_EQ(result.length, 4u);
    EXPECT_EQ(ImageByte(0x9D000100), 0xFF);
}

TEST_F(HexImageTest, RecordLinesAreCountedAndRead) {
    HexFileWriter hex = test::MakeFirmware(200, 16);
    HexImage& file = Load(hex);
    EXPECT_EQ(file.LineCount(), hex.LineCount());
    EXPECT_EQ(file.LinesRead(), 0u);
    ASSERT_TRUE(file.Rewind());
    std::array<std::uint8_t, 512> record{};
    for (const auto& expected : hex.Records()) {
        const std::uint16_t count = file.ReadRecord(record, HexImage::frameReadLimit);
        ASSERT_EQ(count, expected.size());
        EXPECT_BYTES_EQ(expected, std::span(record).first(count));
    }
    EXPECT_EQ(file.LinesRead(), file.LineCount());
    EXPECT_EQ(file.ReadRecord(record, HexImage::frameReadLimit), 0);
    EXPECT_EQ(file.LinesRead(), file.LineCount());
    ASSERT_TRUE(file.Rewind());
    EXPECT_EQ(file.LinesRead(), 0u);
}

TEST_F(HexImageTest, CrLfLineEndsReadLikeLf) {
    HexFileWriter lf = test::MakeFirmware(300, 16);
    HexFileWriter crlf;
    crlf.lineEnd = "\r\n";
    crlf.ExtendedLinear(0x1D00);
    for (const auto& record : lf.Records()) {
        if (record[3] == 0) {
            crlf.Data(static_cast<std::uint16_t>(record[1] << 8 | record[2]),
                      std::span(record).subspan(4, record[0]));
        }
    }
    crlf.EndOfFile();
    const auto lfResult = Load(lf).Build();
    const std::uint32_t lfLines = image->LineCount();
    const auto crlfResult = Load(crlf).Build();
    EXPECT_EQ(image->LineCount(), lfLines);
    EXPECT_EQ(crlfResult.start, lfResult.start);
    EXPECT_EQ(crlfResult.length, lfResult.length);
    EXPECT_EQ(crlfResult.crc, lfResult.crc);
    // The decoded record ends with the checksum: the CR is not decoded as an extra byte.
    ASSERT_TRUE(image->Rewind());
    std::array<std::uint8_t, 512> record{};
    EXPECT_EQ(image->ReadRecord(record, HexImage::frameReadLimit), 7);
}

TEST_F(HexImageTest, LineOf253CharactersIsReadWholeLongerLinesInPieces) {
    // ':' + 4 header bytes + 119 data bytes + checksum = 1 + 2 * 124 = 249 characters; pad the
    // data with a few extra characters so the line is exactly 253 long.
    const std::string body = ":7700000000" + std::string(242, 'A');
    ASSERT_EQ(body.size(), 253u);
    HexFileWriter ok;
    ok.ExtendedLinear(0x1D00);
    ok.Line(body);
    ok.Data(0x1000, Pattern(4));
    auto result = Load(ok).Build();
    EXPECT_EQ(result.start, 0x9D000000u);
    EXPECT_EQ(ImageByte(0x9D001000), 0x10); // the line after it was still read

    HexFileWriter split;
    split.ExtendedLinear(0x1D00);
    split.Line(body + "A");
    split.Data(0x1000, Pattern(4));
    result = Load(split).Build();
    EXPECT_EQ(ImageByte(0x9D001000), 0xFF); // the remainder ended the build
    EXPECT_EQ(image->LineCount(), 4u);      // the long line counts as two pieces
}

TEST_F(HexImageTest, MalformedRecordsStayInsideTheImage) {
    HexFileWriter hex;
    hex.ExtendedLinear(0x1D00);
    hex.Line(":FF001000112233");  // length 255 claimed, three bytes present
    hex.Line(":02");              // too short to have a type
    hex.Line(":02000004");        // address record without its data bytes
    hex.Data(0x0000, Pattern(4)); // base 0 after the short address record: outside
    hex.ExtendedLinear(0x1D4F);
    hex.Data(0xFFF8, Pattern(16));       // runs past the image's end: left out
    hex.Data(0xFFF0, Pattern(16, 0x40)); // ends exactly at the image's end
    hex.ExtendedLinear(0x1CFF);
    hex.Data(0xFFFC, Pattern(8)); // starts below the image: left out
    const auto result = Load(hex).Build();
    EXPECT_EQ(result.start, 0x9D000010u);
    EXPECT_EQ(result.length, 0x500000u - 0x10u);
    EXPECT_EQ(ImageByte(0x9D000010), 0x11);
    EXPECT_EQ(ImageByte(0x9D000012), 0x33);
    EXPECT_EQ(ImageByte(0x9D000013), 0xFF);
    EXPECT_EQ(ImageByte(0x9D4FFFF0), 0x40);
    EXPECT_EQ(ImageByte(0x9D4FFFFF), 0x4F);
    EXPECT_EQ(ImageByte(0x9D000000), 0xFF);
}

TEST_F(HexImageTest, NonHexCharactersEndAPairsNumber) {
    HexFileWriter hex;
    hex.ExtendedLinear(0x1D00);
    hex.Line(":0400000012G4x5Z9"); // pairs 12, G4, x5, Z9 read as 12, 00, 00, 00 ...
    hex.Line(":04001000A1B-C?0D"); // ... and A1, B-, C?, 0D as A1, 0B, 0C, 0D
    Load(hex).Build();
    EXPECT_BYTES_EQ(test::HexBytes("12 00 00 00"), image->Image().first(4));
    EXPECT_BYTES_EQ(test::HexBytes("A1 0B 0C 0D"), image->Image().subspan(0x10, 4));
}

struct BadFileCase {
    const char* name;
    std::string text;
};

class HexImageBadFileTest : public HexImageTest,
                            public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(HexImageBadFileTest, BuildReportsNoRangeAndStaysInside) {
    HexImage& file = Load(GetParam().text);
    const auto result = file.Build();
    EXPECT_EQ(result.start, 0u);
    EXPECT_EQ(result.length, 0u);
    EXPECT_EQ(result.crc, 0u);
    std::array<std::uint8_t, 512> record{};
    ASSERT_TRUE(file.Rewind());
    for (std::uint32_t i = 0; i <= file.LineCount(); ++i) {
        EXPECT_LE(file.ReadRecord(record, HexImage::frameReadLimit),
                  HexImage::MaxDecodedBytes(HexImage::frameReadLimit));
    }
}

std::string Garbage(std::size_t size) {
    std::mt19937 random(7);
    std::string text(size, '\0');
    for (auto& c : text) {
        c = static_cast<char>(random());
    }
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HexImageBadFileTest,
    ::testing::Values(BadFileCase{"Empty", ""}, BadFileCase{"OnlyEndOfFile", ":00000001FF\n"},
                      BadFileCase{"NoLineEnd", ":00000001FF"},
                      BadFileCase{"Garbage", Garbage(100000)},
                      BadFileCase{"LongLines", ":" + std::string(10000, 'F') +
                                                   "\n:" + std::string(10000, '0') + "\n"},
                      BadFileCase{"ColonsOnly", std::string(5000, ':')},
                      BadFileCase{"EmbeddedNul", std::string(":04000000\0AABBCCDD\n", 19)},
                      BadFileCase{"BelowImage", ":0400000011223344AA\n"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(HexImageOpenTest, MissingFileAndDirectoryDoNotOpen) {
    test::TempDir dir;
    HexImage image;
    EXPECT_FALSE(image.Open((dir.Path() / "missing.hex").string()));
    EXPECT_FALSE(image.IsOpen());
    EXPECT_FALSE(image.Rewind());
    std::array<std::uint8_t, 16> record{};
    EXPECT_EQ(image.ReadRecord(record, HexImage::frameReadLimit), 0);
    EXPECT_EQ(image.Build().length, 0u);
    EXPECT_FALSE(image.Open(dir.Path().string()));
}

TEST(HexImageOpenTest, ReadRecordNeverWritesBeyondItsDestination) {
    test::TempDir dir;
    HexImage image;
    ASSERT_TRUE(image.Open(dir.Write("x.hex", ":" + std::string(900, 'A') + "\n")));
    ASSERT_TRUE(image.Rewind());
    std::array<std::uint8_t, 20> record{};
    record.fill(0x55);
    EXPECT_EQ(image.ReadRecord(std::span(record).first(10), HexImage::frameReadLimit), 10);
    EXPECT_EQ(record[9], 0xAA);
    EXPECT_EQ(record[10], 0x55);
}

// Random well-formed files against a model that maps each device address to its byte.
TEST(HexImageModelTest, RandomFilesMatchTheModel) {
    test::TempDir dir;
    std::mt19937 random(42);
    auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    HexImage image;
    for (int round = 0; round < 40; ++round) {
        HexFileWriter hex;
        std::map<std::uint32_t, std::uint8_t> model;
        std::uint32_t base = 0; // linear base as the file sets it (segment addresses never land)
        for (int line = 0; line < 120; ++line) {
            hex.lineEnd = pick(0, 1) ? "\r\n" : "\n";
            hex.lowerCase = pick(0, 1) != 0;
            switch (pick(0, 9)) {
            case 0: {
                static constexpr std::uint16_t uppers[] = {0x1D00, 0x9D00, 0x1D01, 0x1D4F,
                                                           0x1FC0, 0x0000, 0x1CFF, 0x1D2A};
                const std::uint16_t upper = uppers[pick(0, 7)];
                hex.ExtendedLinear(upper);
                base = std::uint32_t{upper} << 16;
                break;
            }
            case 1:
                hex.ExtendedSegment(static_cast<std::uint16_t>(pick(0, 0xFFFF)));
                base = 0xFFFFFFFF; // nothing lands until the next linear record
                break;
            case 2:
                if (pick(0, 3) == 0) {
                    hex.EndOfFile();
                    base = 0xFFFFFFFF;
                }
                break;
            default: {
                Bytes data(static_cast<std::size_t>(pick(1, 32)));
                for (auto& b : data) {
                    b = static_cast<std::uint8_t>(pick(0, 255));
                }
                // Mostly near the start or the end of a 64 KiB page, to reach the image's edges.
                const auto offset =
                    static_cast<std::uint16_t>(pick(0, 1) ? pick(0, 512) : pick(0xFFD0, 0xFFFF));
                hex.Data(offset, data);
                if (base == 0xFFFFFFFF) {
                    break;
                }
                const std::uint64_t address = (base + offset) | 0x80000000u;
                if (address >= imageBase &&
                    address + data.size() <= imageBase + HexImage::imageSize) {
                    for (std::size_t i = 0; i < data.size(); ++i) {
                        model[static_cast<std::uint32_t>(address + i)] = data[i];
                    }
                }
            }
            }
        }
        ASSERT_TRUE(image.Open(dir.Write("random.hex", hex.Text())));
        EXPECT_EQ(image.LineCount(), hex.LineCount());
        const auto result = image.Build();
        EXPECT_EQ(image.LinesRead(), hex.LineCount()) << "every line is a record line";
        if (model.empty()) {
            EXPECT_EQ(result.length, 0u);
            continue;
        }
        const std::uint32_t start = model.begin()->first & ~3u;
        const std::uint32_t end = (model.rbegin()->first + 1 + 3) & ~3u;
        ASSERT_EQ(result.start, start) << "round " << round;
        ASSERT_EQ(result.length, end - start) << "round " << round;
        Bytes expected(end - start, 0xFF);
        for (const auto& [address, value] : model) {
            expected[address - start] = value;
        }
        EXPECT_BYTES_EQ(expected, image.Image().subspan(start - imageBase, end - start));
        EXPECT_EQ(result.crc, Crc16(expected));
        // Outside the used range the image stays erased.
        const auto all = image.Image();
        EXPECT_EQ(std::count(all.begin(), all.end(), std::uint8_t{0xFF}) +
                      static_cast<std::ptrdiff_t>(end - start) -
                      std::count(expected.begin(), expected.end(), std::uint8_t{0xFF}),
                  static_cast<std::ptrdiff_t>(HexImage::imageSize));
    }
}

} // namespace
} // namespace ostrel
