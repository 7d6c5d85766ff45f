#include "devices/ManagementDatagrams.h"

#include "tests/support/Bytes.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using test::Bytes;
using test::HexBytes;

std::array<std::uint8_t, identificationLength> Identification(const std::string& text) {
    std::array<std::uint8_t, identificationLength> bytes{};
    std::copy(text.begin(), text.end(), bytes.begin());
    return bytes;
}

// The example settings: 192.168.2.242/24, DHCP on, PID 0x0B71, port 6234, "Lab-7" padded.
ModuleConfig ExampleConfig() {
    ModuleConfig config;
    config.ipAddress = {192, 168, 2, 242};
    config.subnetMask = {255, 255, 255, 0};
    config.dhcpEnabled = true;
    config.usbPid = 0x0B71;
    config.receptionPort = 6234;
    config.identification = Identification("Lab-7        ");
    return config;
}

// The same settings as a module reports them: a reply with big-endian fields.
Bytes ExampleReply() {
    Bytes reply = HexBytes("CA FE 20 03 00"
                           "44 00 00 00  C0 A8 02 F2  FF FF FF 00  00 50 C2 12 34 56"
                           "4C 61 62 2D 37 20 20 20  00 11"
                           "31 2E 30 36 00 00 00 00  56 45 58 41 2D 49 4F 00"
                           "0B 71  18 5A  00 00  DE FE 20 16  20 20 20 20 20  00"
                           "00 00 00 00 00 00 00 00");
    return reply;
}

TEST(ManagementDatagramsTest, ReadRequestIsMagicOpcodeAndZeros) {
    Bytes expected = HexBytes("CA FE 10 01 52");
    expected.resize(73, 0x00);
    EXPECT_BYTES_EQ(expected, BuildReadRequest());
}

TEST(ManagementDatagramsTest, WriteRequestIsLittleEndianByteExact) {
    const Bytes expected = HexBytes("CA FE 10 01 57"
                                    "44 00 00 00"
                                    "C0 A8 02 F2"
                                    "FF FF FF 00"
                                    "00 00 00 00 00 00"
                                    "4C 61 62 2D 37 20 20 20"
                                    "11 00"
                                    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
                                    "71 0B"
                                    "5A 18"
                                    "00 00"
                                    "DE FE 20 16"
                                    "20 20 20 20 20"
                                    "00 00 00 00 00 00 00 00 00");
    ASSERT_EQ(expected.size(), 73u);
    EXPECT_BYTES_EQ(expected, BuildWriteRequest(ExampleConfig()));
}

TEST(ManagementDatagramsTest, WriteWithDhcpOffCarriesZero) {
    ModuleConfig config = ExampleConfig();
    config.dhcpEnabled = false;
    const ManagementRequest request = BuildWriteRequest(config);
    EXPECT_EQ(request[5 + 26], 0x00);
    EXPECT_EQ(request[5 + 27], 0x00);
}

TEST(ManagementDatagramsTest, ReplyIsReadBigEndian) {
    const ManagementReply reply = ParseReply(ExampleReply());
    EXPECT_TRUE(reply.magicValid);
    EXPECT_EQ(reply.Address(), 0xC0A802F2u);
    EXPECT_EQ(FromOctets(reply.subnetMask), 0xFFFFFF00u);
    EXPECT_EQ(reply.macAddress, (std::array<std::uint8_t, 6>{0x00, 0x50, 0xC2, 0x12, 0x34, 0x56}));
    EXPECT_EQ(reply.dhcpFlags, 17);
    EXPECT_TRUE(reply.DhcpEnabled());
    EXPECT_EQ(reply.usbPid, 0x0B71);
    EXPECT_EQ(reply.receptionPort, 6234);
    EXPECT_EQ(reply.versionText, "1.06");
    EXPECT_EQ(reply.moduleName, "VEXA-IO");
    EXPECT_EQ(reply.SetupIdentification(), "Lab-7        ");
    EXPECT_EQ(reply.DiscoveryIdentification(), "Lab-7        ");
}

struct DhcpCase {
    std::uint8_t high;
    std::uint8_t low;
    bool shown;
    std::uint16_t value;
};

class ReplyDhcpTest : public ::testing::TestWithParam<DhcpCase> {};

TEST_P(ReplyDhcpTest, LowByteBitsShowDhcp) {
    Bytes bytes = ExampleReply();
    bytes[31] = GetParam().high;
    bytes[32] = GetParam().low;
    const ManagementReply reply = ParseReply(bytes);
    EXPECT_EQ(reply.DhcpEnabled(), GetParam().shown);
    EXPECT_EQ(reply.dhcpFlags, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyDhcpTest,
    ::testing::Values(DhcpCase{0x00, 0x11, true, 17}, DhcpCase{0x00, 0x01, true, 1},
                      DhcpCase{0x00, 0x10, true, 16}, DhcpCase{0x00, 0x00, false, 0},
                      DhcpCase{0x11, 0x00, false, 0x1100}, DhcpCase{0x00, 0x22, false, 0x22}));

TEST(ManagementDatagramsTest, IdentificationWithoutZeroTakesByte64InDiscoveryOnly) {
    Bytes bytes = ExampleReply();
    const std::string ident = "ABCDEFGHIJKLM";
    std::copy_n(ident.begin(), 8, bytes.begin() + 23);
    std::copy_n(ident.begin() + 8, 5, bytes.begin() + 59);
    bytes[64] = 'N';
    const ManagementReply reply = ParseReply(bytes);
    EXPECT_EQ(reply.SetupIdentification(), "ABCDEFGHIJKLM");
    EXPECT_EQ(reply.DiscoveryIdentification(), "ABCDEFGHIJKLMN");
    bytes[64] = 0;
    EXPECT_EQ(ParseReply(bytes).DiscoveryIdentification(), "ABCDEFGHIJKLM");
}

TEST(ManagementDatagramsTest, TextFieldsStopAtZeroOrTheirWidth) {
    Bytes bytes = ExampleReply();
    std::fill_n(bytes.begin() + 33, 8, 'v');
    std::fill_n(bytes.begin() + 41, 8, 'n');
    bytes[25] = 0; // "La" then a zero
    const ManagementReply reply = ParseReply(bytes);
    EXPECT_EQ(reply.versionText, "vvvvvvvv");
    EXPECT_EQ(reply.moduleName, "nnnnnnnn");
    EXPECT_EQ(reply.SetupIdentification(), "La");
}

TEST(ManagementDatagramsTest, ShortDatagramsReadAsZeroBeyondTheirEnd) {
    const Bytes full = ExampleReply();
    const ManagementReply sixty = ParseReply(std::span(full).first(60));
    EXPECT_TRUE(sixty.magicValid);
    EXPECT_EQ(sixty.SetupIdentification(), "Lab-7    "); // of the tail only byte 59 came
    const ManagementReply three = ParseReply(std::span(full).first(3));
    EXPECT_FALSE(three.magicValid);
    EXPECT_EQ(three.Address(), 0u);
    EXPECT_FALSE(ParseReply(HexBytes("CA FE 10 01")).magicValid);
}

TEST(ManagementDatagramsTest, IdentifyDatagramSwitchesOnAndOff) {
    EXPECT_BYTES_EQ(HexBytes("CA FE 10 01 49 35 38 32 30 33"), BuildIdentifyDatagram(true));
    EXPECT_BYTES_EQ(HexBytes("CA FE 10 00 49 35 38 32 30 33"), BuildIdentifyDatagram(false));
}

} // namespace
} // namespace ostrel
