#include "sim/ManagementModel.h"

#include "tests/support/Bytes.h"

#include <string>

#include <gtest/gtest.h>

namespace ostrel::sim {
namespace {

using test::Bytes;
using test::HexBytes;

// The write request for 192.168.2.242, 255.255.255.0, DHCP on, PID 0x0B71, port 6234 and the
// identification "Lab-7" padded with blanks to 13 characters, as the host sends it.
const char* const labWrite = "CA FE 10 01 57"
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
                             "00 00 00 00 00 00 00 00 00";

const char* const identOn = "CA FE 10 01 49 35 38 32 30 33";
const char* const identOff = "CA FE 10 00 49 35 38 32 30 33";

Bytes ReadRequest() {
    Bytes request = HexBytes("CA FE 10 01 52");
    request.resize(73, 0);
    return request;
}

ModuleIdentity SampleIdentity() {
    ModuleIdentity identity;
    identity.moduleName = {'I', 'O', '-', '1', '6', 'D', 'I', 'O'};
    identity.macAddress = {0x00, 0x50, 0xC2, 0xAB, 0xCD, 0xEF};
    identity.versionText = {'2', '.', '1', '0', 0, 0, 0, 0};
    identity.ident = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N'};
    identity.ipAddress = {10, 1, 2, 3};
    identity.subnetMask = {255, 255, 0, 0};
    identity.dhcpFlags = 0x0011;
    identity.usbPid = 0x0B72;
    identity.receptionPort = 0x1234;
    return identity;
}

TEST(ManagementModelTest, ReplyIsByteExact) {
    ManagementModel model(SampleIdentity());
    const auto outcome = model.Execute(ReadRequest());
    EXPECT_EQ(outcome.command, ManagementCommand::Read);
    ASSERT_TRUE(outcome.reply.has_value());
    EXPECT_BYTES_EQ(HexBytes("CA FE 20 03 00"
                             "44 00 00 00"               // 5: record length
                             "0A 01 02 03"               // 9: address
                             "FF FF 00 00"               // 13: mask
                             "00 50 C2 AB CD EF"         // 17: MAC
                             "41 42 43 44 45 46 47 48"   // 23: ident 0..7
                             "00 11"                     // 31: DHCP flags, big-endian
                             "32 2E 31 30 00 00 00 00"   // 33: version
                             "49 4F 2D 31 36 44 49 4F"   // 41: name
                             "0B 72"                     // 49: PID, big-endian
                             "12 34"                     // 51: port, big-endian
                             "00 00"                     // 53
                             "DE FE 20 16"               // 55: marker
                             "49 4A 4B 4C 4D"            // 59: ident 8..12
                             "4E"                        // 64: ident 13
                             "00 00 00 00 00 00 00 00"), // 65..72
                    *outcome.reply);
}

TEST(ManagementModelTest, DefaultIdentityIsNulPadded) {
    const Bytes reply = ManagementModel(ModuleIdentity{}).BuildReply();
    ASSERT_EQ(reply.size(), 73u);
    EXPECT_BYTES_EQ(HexBytes("4C 61 62 2D 37 00 00 00"),
                    Bytes(reply.begin() + 23, reply.begin() + 31));
    EXPECT_BYTES_EQ(HexBytes("56 45 58 41 2D 49 4F 00"),
                    Bytes(reply.begin() + 41, reply.begin() + 49));
    EXPECT_BYTES_EQ(HexBytes("31 2E 30 36 00 00 00 00"),
                    Bytes(reply.begin() + 33, reply.begin() + 41));
    EXPECT_BYTES_EQ(HexBytes("00 00 00 00 00 00"), Bytes(reply.begin() + 59, reply.begin() + 65));
    EXPECT_BYTES_EQ(HexBytes("0B 71 18 5A"), Bytes(reply.begin() + 49, reply.begin() + 53));
}

TEST(ManagementModelTest, WriteThenReadReturnsTheWrittenSettings) {
    ManagementModel model(SampleIdentity());
    const auto written = model.Execute(HexBytes(labWrite));
    EXPECT_EQ(written.command, ManagementCommand::Write);
    EXPECT_TRUE(written.done);
    EXPECT_FALSE(written.reply.has_value());
    EXPECT_EQ(written.details, " ip=192.168.2.242 mask=255.255.255.0 dhcp=17 pid=0x0B71 port=6234 "
                               "ident=\"Lab-7        \"");

    const auto read = model.Execute(ReadRequest());
    ASSERT_TRUE(read.reply.has_value());
    // Written fields come back in the reply's byte order; MAC, version and name stay.
    EXPECT_BYTES_EQ(HexBytes("CA FE 20 03 00"
                             "44 00 00 00"
                             "C0 A8 02 F2"
                             "FF FF FF 00"
                             "00 50 C2 AB CD EF"
                             "4C 61 62 2D 37 20 20 20"
                             "00 11"
                             "32 2E 31 30 00 00 00 00"
                             "49 4F 2D 31 36 44 49 4F"
                             "0B 71"
                             "18 5A"
                             "00 00"
                             "DE FE 20 16"
                             "20 20 20 20 20"
                             "00"
                             "00 00 00 00 00 00 00 00"),
                    *read.reply);
}

TEST(ManagementModelTest, SixteenBitFieldsAreReadLittleEndianFromWrites) {
    Bytes write = HexBytes(labWrite);
    write[31] = 0x01; // DHCP flags 0x1001
    write[32] = 0x10;
    write[49] = 0x34; // PID 0x1234
    write[50] = 0x12;
    write[51] = 0xFF; // port 0x00FF
    write[52] = 0x00;
    ManagementModel model(ModuleIdentity{});
    model.Execute(write);
    EXPECT_EQ(model.Identity().dhcpFlags, 0x1001);
    EXPECT_EQ(model.Identity().usbPid, 0x1234);
    EXPECT_EQ(model.Identity().receptionPort, 0x00FF);
    const Bytes reply = model.BuildReply();
    EXPECT_BYTES_EQ(HexBytes("10 01"), Bytes(reply.begin() + 31, reply.begin() + 33));
    EXPECT_BYTES_EQ(HexBytes("12 34 00 FF"), Bytes(reply.begin() + 49, reply.begin() + 53));
}

TEST(ManagementModelTest, ShortWriteChangesNothing) {
    ManagementModel model(SampleIdentity());
    const Bytes before = model.BuildReply();
    Bytes write = HexBytes(labWrite);
    write.pop_back();
    const auto outcome = model.Execute(write);
    EXPECT_EQ(outcome.command, ManagementCommand::Write);
    EXPECT_FALSE(outcome.done);
    EXPECT_EQ(outcome.details, " reason=short");
    EXPECT_BYTES_EQ(before, model.BuildReply());
}

TEST(ManagementModelTest, IdentifySwitchesTheIndicator) {
    struct Step {
        std::string datagram;
        bool done;
        bool on; // afterwards
    };
    const Step steps[] = {
        {identOn, true, true},
        {identOn, true, true},
        {identOff, true, false},
        {identOn, true, true},
        {"CA FE 10 02 49 35 38 32 30 33", false, true}, // no such state
        {"CA FE 10 00 49 35 38 32 30 34", false, true}, // wrong code
        {"CA FE 10 00 49 35 38 32 30", false, true},    // short
        {identOff, true, false},
    };
    ManagementModel model(ModuleIdentity{});
    EXPECT_FALSE(model.IndicatorOn());
    for (const Step& step : steps) {
        const auto outcome = model.Execute(HexBytes(step.datagram));
        EXPECT_EQ(outcome.command, ManagementCommand::Ident) << step.datagram;
        EXPECT_EQ(outcome.done, step.done) << step.datagram;
        EXPECT_FALSE(outcome.reply.has_value());
        EXPECT_EQ(model.IndicatorOn(), step.on) << step.datagram;
    }
}

TEST(ManagementModelTest, Classification) {
    struct Case {
        std::string datagram;
        ManagementCommand command;
    };
    const Case cases[] = {
        {"CA FE 10 01 52", ManagementCommand::Read},
        {"CA FE 10 01 52 00 00 00", ManagementCommand::Read},
        {labWrite, ManagementCommand::Write},
        {identOn, ManagementCommand::Ident},
        {identOff, ManagementCommand::Ident},
        {"CA FE 10 01 58", ManagementCommand::Unknown},
        {"CA FE 10 01", ManagementCommand::NotManagement},
        {"CA FE 10 00 52", ManagementCommand::NotManagement},
        {"CA FE 20 03 00", ManagementCommand::NotManagement}, // a reply
        {"CA FF 10 01 52", ManagementCommand::NotManagement},
        {"37 30 38 31 34", ManagementCommand::NotManagement},
        {"01 02 42 20 04", ManagementCommand::NotManagement},
        {"", ManagementCommand::NotManagement},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ManagementModel::Classify(HexBytes(c.datagram)), c.command) << c.datagram;
    }
}

TEST(ManagementModelTest, ShortReadRequestIsAnsweredInFull) {
    ManagementModel model(SampleIdentity());
    const auto outcome = model.Execute(HexBytes("CA FE 10 01 52"));
    ASSERT_TRUE(outcome.reply.has_value());
    EXPECT_BYTES_EQ(model.BuildReply(), *outcome.reply);
    EXPECT_EQ(outcome.reply->size(), 73u);
}

TEST(ManagementModelTest, UnknownOpcodeIsNotAnswered) {
    ManagementModel model(SampleIdentity());
    const Bytes before = model.BuildReply();
    const auto outcome = model.Execute(HexBytes("CA FE 10 01 58 00 00"));
    EXPECT_EQ(outcome.command, ManagementCommand::Unknown);
    EXPECT_FALSE(outcome.reply.has_value());
    EXPECT_FALSE(outcome.done);
    EXPECT_EQ(outcome.details, " opcode=0x58");
    EXPECT_BYTES_EQ(before, model.BuildReply());
}

TEST(ManagementModelTest, WriteDropsAFourteenthIdentCharacter) {
    ManagementModel model(SampleIdentity());
    EXPECT_EQ(model.BuildReply()[64], 'N');
    model.Execute(HexBytes(labWrite));
    EXPECT_EQ(model.BuildReply()[64], 0);
}

} // namespace
} // namespace ostrel::sim
