#include "sim/BootloaderModel.h"

#include "tests/support/Bytes.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/TestFrames.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ostrel::sim {
namespace {

using test::Bytes;
using test::HexBytes;
using test::HexFileWriter;

constexpr std::uint32_t flashBase = 0x1D000000;
constexpr std::uint32_t flashSize = 0x500000;

// A Program payload carrying every record of the writer, back to back.
Bytes ProgramPayload(const HexFileWriter& writer) {
    Bytes payload{0x03};
    for (const auto& record : writer.Records()) {
        payload.insert(payload.end(), record.begin(), record.end());
    }
    return payload;
}

Bytes VerifyPayload(std::uint32_t start, std::uint32_t length, std::uint16_t hostCrc = 0) {
    Bytes payload{0x04};
    for (int i = 0; i < 4; ++i) {
        payload.push_back(static_cast<std::uint8_t>(start >> (8 * i)));
    }
    for (int i = 0; i < 4; ++i) {
        payload.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    }
    payload.push_back(static_cast<std::uint8_t>(hostCrc & 0xFF));
    payload.push_back(static_cast<std::uint8_t>(hostCrc >> 8));
    return payload;
}

Bytes VerifyReply(std::uint16_t crc) {
    return {0x04, static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)};
}

// The flash as the test expects it: erased, with the given bytes at physical addresses.
class ExpectedFlash {
public:
    ExpectedFlash() : cells(flashSize, 0xFF) {}
    void Put(std::uint32_t physical, const Bytes& bytes) {
        std::copy(bytes.begin(), bytes.end(), cells.begin() + (physical - flashBase));
    }
    Bytes Range(std::uint32_t physical, std::size_t length) const {
        const auto first = cells.begin() + (physical - flashBase);
        return {first, first + static_cast<std::ptrdiff_t>(length)};
    }
    const Bytes& All() const { return cells; }

private:
    Bytes cells;
};

Bytes FlashRange(const BootloaderModel& model, std::uint32_t physical, std::size_t length) {
    const auto all = model.Flash().Contents();
    const auto contents = std::span(all).subspan(physical - flashBase, length);
    return {contents.begin(), contents.end()};
}

bool FlashEquals(const BootloaderModel& model, const ExpectedFlash& expected) {
    const auto contents = model.Flash().Contents();
    return std::equal(contents.begin(), contents.end(), expected.All().begin(),
                      expected.All().end());
}

struct PlacementCase {
    std::string name;
    std::function<void(HexFileWriter&)> records;
    std::vector<std::pair<std::uint32_t, std::string>> expected; // physical address, bytes
    std::string details;                                         // of the Program's log entry
};

class RecordPlacementTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(RecordPlacementTest, StoresExactlyTheExpectedBytes) {
    const PlacementCase& c = GetParam();
    HexFileWriter writer;
    c.records(writer);
    BootloaderModel model;
    const BootOutcome outcome = model.Execute(ProgramPayload(writer));

    EXPECT_EQ(outcome.command, "Program");
    ASSERT_TRUE(outcome.reply.has_value());
    EXPECT_BYTES_EQ(HexBytes("03"), *outcome.reply);
    EXPECT_EQ(outcome.details, c.details);
    ExpectedFlash expected;
    for (const auto& [address, bytes] : c.expected) {
        expected.Put(address, HexBytes(bytes));
    }
    EXPECT_TRUE(FlashEquals(model, expected));
}

INSTANTIATE_TEST_SUITE_P(
    Records, RecordPlacementTest,
    ::testing::Values(PlacementCase{"LinearPhysical",
                                    [](HexFileWriter& w) {
                                        w.ExtendedLinear(0x1D00);
                                        w.Data(0x0010, HexBytes("11 22 33"));
                                    },
                                    {{0x1D000010, "11 22 33"}},
                                    " records=2 stored=3"},
                      PlacementCase{"LinearKseg0AliasLandsOnTheSameBytes",
                                    [](HexFileWriter& w) {
                                        w.ExtendedLinear(0x9D00);
                                        w.Data(0x0000, HexBytes("AA BB"));
                                        w.ExtendedLinear(0xBD12);
                                        w.Data(0x3456, HexBytes("CC"));
                                    },
                                    {{0x1D000000, "AA BB"}, {0x1D123456, "CC"}},
                                    " records=4 stored=3"},
                      PlacementCase{"LaterRecordOverwritesEarlier",
                                    [](HexFileWriter& w) {
                                        w.ExtendedLinear(0x1D00);
                                        w.Data(0x0000, HexBytes("01 02 03 04"));
                                        w.ExtendedLinear(0x9D00);
                                        w.Data(0x0002, HexBytes("F3 F4"));
                                    },
                                    {{0x1D000000, "01 02 F3 F4"}},
                                    " records=4 stored=6"},
                      PlacementCase{"BootAreaIgnored",
                                    [](HexFileWriter& w) {
                                        w.ExtendedLinear(0x1FC0);
                                        w.Data(0x0000, HexBytes("01 02"));
                                        w.ExtendedLinear(0x9FC0);
                                        w.Data(0x0100, HexBytes("03"));
                                    },
                                    {},
                                    " records=4 stored=0"},
                      PlacementCase{"RecordAcrossTheFlashEndKeepsItsInsidePart",
                                    [](HexFileWriter& w) {
                                        w.ExtendedLinear(0x1D4F);
                                        w.Data(0xFFFC, HexBytes("01 02 03 04 05 06 07 08"));
                                    },
                                    {{0x1D4FFFFC, "01 02 03 04"}},
                                    " records=2 stored=4"},
                      PlacementCase{"BelowTheFlashIgnored",
                                    [](HexFileWriter& w) {
                                        w.ExtendedLinear(0x1CFF);
                                        w.Data(0xFFFE, HexBytes("01 02 03"));
                                    },
                                    {{0x1D000000, "03"}},
                                    " records=2 stored=1"},
                      PlacementCase{"SegmentReplacesTheLinearBase",
                                    [](HexFileWriter& w) {
                                        w.ExtendedLinear(0x1D00);
                                        w.ExtendedSegment(0x1000);
                                        w.Data(0x0010, HexBytes("01"));
                                        w.ExtendedLinear(0x1D00);
                                        w.Data(0x0020, HexBytes("02"));
                                    },
                                    {{0x1D000020, "02"}},
                                    " records=5 stored=1"},
                      PlacementCase{"EndOfFileClearsTheBase",
                                    [](HexFileWriter& w) {
                                        w.ExtendedLinear(0x1D00);
                                        w.EndOfFile();
                                        w.Data(0x0000, HexBytes("01"));
                                        w.ExtendedLinear(0x1D00);
                                        w.Data(0x0001, HexBytes("02"));
                                    },
                                    {{0x1D000001, "02"}},
                                    " records=5 stored=1"},
                      PlacementCase{"OtherRecordTypesIgnored",
                                    [](HexFileWriter& w) {
                                        w.ExtendedLinear(0x1D00);
                                        w.Record(5, 0, HexBytes("9D 00 10 00"));
                                        w.Record(3, 0, HexBytes("00 00 00 00"));
                                        w.Data(0x0040, HexBytes("77"));
                                    },
                                    {{0x1D000040, "77"}},
                                    " records=4 stored=1"},
                      PlacementCase{"EmptyDataRecord",
                                    [](HexFileWriter& w) {
                                        w.ExtendedLinear(0x1D00);
                                        w.Data(0x0000, {});
                                    },
                                    {},
                                    " records=2 stored=0"}),
    [](const auto& param) { return param.param.name; });

TEST(BootloaderModelTest, SegmentBaseIsSixteenTimesTheWord) {
    FlashMemory flash;
    RecordInterpreter records;
    records.Apply(HexBytes("02 00 00 02 12 34 B6"), flash);
    EXPECT_EQ(records.Base(), 0x12340u);
    records.Apply(HexBytes("02 00 00 04 9D 01 5C"), flash);
    EXPECT_EQ(records.Base(), 0x9D010000u);
}

TEST(BootloaderModelTest, AddressBaseCarriesOverToTheNextFrame) {
    BootloaderModel model;
    HexFileWriter first;
    first.ExtendedLinear(0x1D02);
    HexFileWriter second;
    second.Data(0x0100, HexBytes("5A A5"));
    model.Execute(ProgramPayload(first));
    model.Execute(ProgramPayload(second));
    EXPECT_BYTES_EQ(HexBytes("5A A5"), FlashRange(model, 0x1D020100, 2));
}

TEST(BootloaderModelTest, LengthFieldBeyondTheFrameStoresOnlyWhatIsThere) {
    BootloaderModel model;
    HexFileWriter base;
    base.ExtendedLinear(0x1D00);
    model.Execute(ProgramPayload(base));

    // Claims 0x20 data bytes, carries 3 and no checksum.
    const auto outcome = model.Execute(HexBytes("03 20 00 08 00 C1 C2 C3"));
    ASSERT_TRUE(outcome.reply.has_value());
    EXPECT_EQ(outcome.details, " records=1 stored=3 truncated=1");
    EXPECT_BYTES_EQ(HexBytes("C1 C2 C3 FF"), FlashRange(model, 0x1D000008, 4));
}

TEST(BootloaderModelTest, PartialRecordHeaderIsNotARecord) {
    const std::pair<const char*, const char*> cases[] = {
        {"03", " records=0 stored=0"},
        {"03 10", " records=0 stored=0"},
        {"03 10 00 00", " records=0 stored=0"},
        {"03 10 00 00 00", " records=1 stored=0 truncated=1"},
    };
    for (const auto& [payload, details] : cases) {
        BootloaderModel model;
        const auto outcome = model.Execute(HexBytes(payload));
        ASSERT_TRUE(outcome.reply.has_value()) << payload;
        EXPECT_EQ(outcome.details, details) << payload;
    }
}

// A frame that moves the extended address half way through and is then resent: the copy must
// start from the address its first copy started from.
TEST(BootloaderModelTest, ResentProgramFrameLandsWhereTheFirstCopyDid) {
    BootloaderModel model;
    HexFileWriter start;
    start.ExtendedLinear(0x1D00);
    model.Execute(ProgramPayload(start));

    HexFileWriter frame;
    frame.Data(0x0100, HexBytes("11 22"));
    frame.ExtendedLinear(0x1D01);
    frame.Data(0x0000, HexBytes("33 44"));
    const Bytes payload = ProgramPayload(frame);
    EXPECT_EQ(model.Execute(payload).details, " records=3 stored=4");
    const auto again = model.Execute(payload);
    EXPECT_EQ(again.details, " records=3 stored=4 resent=1");
    ASSERT_TRUE(again.reply.has_value());

    ExpectedFlash expected;
    expected.Put(0x1D000100, HexBytes("11 22"));
    expected.Put(0x1D010000, HexBytes("33 44"));
    EXPECT_TRUE(FlashEquals(model, expected))
        << "0x1D010100 holds " << test::ToHex(FlashRange(model, 0x1D010100, 2));

    // A different frame goes on from where the last one left the address.
    HexFileWriter next;
    next.Data(0x0200, HexBytes("55"));
    EXPECT_EQ(model.Execute(ProgramPayload(next)).details, " records=1 stored=1");
    EXPECT_BYTES_EQ(HexBytes("55"), FlashRange(model, 0x1D010200, 1));
}

TEST(BootloaderModelTest, SameFrameAfterAnotherIsNoResend) {
    BootloaderModel model;
    HexFileWriter a;
    a.ExtendedLinear(0x1D03);
    a.Data(0x0000, HexBytes("01"));
    HexFileWriter b;
    b.ExtendedLinear(0x1D04);
    model.Execute(ProgramPayload(a));
    model.Execute(ProgramPayload(b));
    // Starts with its own extended address, so it lands at 0x1D030000 either way; what matters
    // is that it is not marked as a resend.
    EXPECT_EQ(model.Execute(ProgramPayload(a)).details, " records=2 stored=1");
}

TEST(BootloaderModelTest, EraseClearsFlashAndAddressState) {
    BootloaderModel model;
    HexFileWriter base;
    base.ExtendedLinear(0x1D00);
    HexFileWriter dataOnly;
    dataOnly.Data(0x0000, HexBytes("01 02 03"));
    model.Execute(ProgramPayload(base));
    EXPECT_EQ(model.Execute(ProgramPayload(dataOnly)).details, " records=1 stored=3");

    for (int round = 0; round < 2; ++round) {
        const auto erased = model.Execute(HexBytes("02"));
        EXPECT_EQ(erased.command, "Erase");
        ASSERT_TRUE(erased.reply.has_value());
        EXPECT_BYTES_EQ(HexBytes("02"), *erased.reply);
        EXPECT_TRUE(FlashEquals(model, ExpectedFlash()));
    }

    // The same frame after an Erase starts a new programming, not a resend: without an
    // extended address record its data now goes to 0x00000000 and is ignored.
    EXPECT_EQ(model.Execute(ProgramPayload(dataOnly)).details, " records=1 stored=0");
    EXPECT_TRUE(FlashEquals(model, ExpectedFlash()));
}

TEST(BootloaderModelTest, VerifyAnswersTheCrcOfTheFlashRange) {
    BootloaderModel model;
    const HexFileWriter firmware = test::MakeFirmware(1000, 16, 3);
    model.Execute(ProgramPayload(firmware));
    ExpectedFlash expected;
    Bytes data;
    for (const auto& record : firmware.Records()) {
        if (record[3] == 0) {
            data.insert(data.end(), record.begin() + 4, record.end() - 1);
        }
    }
    expected.Put(flashBase, data);
    ASSERT_TRUE(FlashEquals(model, expected));

    struct Range {
        std::uint32_t start;
        std::uint32_t length;
        std::uint32_t physical; // the part inside the flash
        std::uint32_t inside;
    };
    const Range ranges[] = {
        {0x9D000000, 1000, 0x1D000000, 1000},
        {0x1D000000, 1000, 0x1D000000, 1000}, // the physical alias
        {0xBD000000, 1000, 0x1D000000, 1000}, // the uncached alias
        {0x9D000000, 1024, 0x1D000000, 1024}, // erased tail included
        {0x9D000010, 0x10, 0x1D000010, 0x10},
        {0x9D000000, 0, 0x1D000000, 0},
        {0x9D4FFFF0, 0x40, 0x1D4FFFF0, 0x10}, // past the end: the inside part
        {0x9CFFFFF0, 0x20, 0x1D000000, 0x10}, // before the start: the inside part
        {0x9FC00000, 0x100, 0x1D000000, 0},   // boot area: nothing inside
        {0x9D000000, 0xFFFFFFFF, 0x1D000000, flashSize},
    };
    for (const Range& range : ranges) {
        const auto outcome = model.Execute(VerifyPayload(range.start, range.length, 0xBEEF));
        ASSERT_TRUE(outcome.reply.has_value());
        EXPECT_BYTES_EQ(
            VerifyReply(test::BitwiseCrc16(expected.Range(range.physical, range.inside))),
            *outcome.reply)
            << std::hex << range.start << " +" << range.length;
    }
}

TEST(BootloaderModelTest, VerifyLogDetails) {
    BootloaderModel model;
    const auto outcome = model.Execute(VerifyPayload(0x9D000000, 0x10));
    char expected[64];
    std::snprintf(expected, sizeof expected, " start=0x9D000000 length=0x00000010 crc=0x%04X",
                  unsigned{test::BitwiseCrc16(Bytes(16, 0xFF))});
    EXPECT_EQ(outcome.details, expected);
}

TEST(BootloaderModelTest, VerifyWithoutStartAndLengthIsNotAnswered) {
    BootloaderModel model;
    for (const char* payload : {"04", "04 00 00 00 9D", "04 00 00 00 9D 10 00 00"}) {
        const auto outcome = model.Execute(HexBytes(payload));
        EXPECT_EQ(outcome.command, "Verify");
        EXPECT_FALSE(outcome.reply.has_value()) << payload;
    }
    // Without the host's CRC it is still answered.
    EXPECT_TRUE(model.Execute(HexBytes("04 00 00 00 9D 10 00 00 00")).reply.has_value());
}

TEST(BootloaderModelTest, OtherCommands) {
    struct Case {
        std::string payload;
        std::string_view command;
        std::optional<Bytes> reply;
        bool run;
    };
    const Case cases[] = {
        {"01", "Query", Bytes{0x01, BootloaderModel::VERSION_MAJOR, BootloaderModel::VERSION_MINOR},
         false},
        {"01 77", "Query",
         Bytes{0x01, BootloaderModel::VERSION_MAJOR, BootloaderModel::VERSION_MINOR}, false},
        {"05", "Run", std::nullopt, true},
        {"00", "unknown", std::nullopt, false},
        {"06", "unknown", std::nullopt, false},
        {"FF 01 02", "unknown", std::nullopt, false},
    };
    BootloaderModel model;
    for (const Case& c : cases) {
        const auto outcome = model.Execute(HexBytes(c.payload));
        EXPECT_EQ(outcome.command, c.command) << c.payload;
        EXPECT_EQ(outcome.reply, c.reply) << c.payload;
        EXPECT_EQ(outcome.run, c.run) << c.payload;
    }
    EXPECT_TRUE(FlashEquals(model, ExpectedFlash()));
}

} // namespace
} // namespace ostrel::sim
