#include "devices/SetupChange.h"

#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

// The example module: 192.168.2.242/24, DHCP off, PID 0x0B71, port 6234, "Lab-7" padded.
ReportedSettings Reported() {
    ReportedSettings reported;
    const std::string ident = "Lab-7        ";
    std::copy(ident.begin(), ident.end(), reported.identification.begin());
    reported.ipAddress = {192, 168, 2, 242};
    reported.subnetMask = {255, 255, 255, 0};
    reported.usbPid = 0x0B71;
    reported.receptionPort = 6234;
    return reported;
}

EnteredSettings Untouched(const ReportedSettings& reported) {
    return AsReported(reported);
}

struct ChangeCase {
    const char* name;
    std::function<void(ReportedSettings&)> report;
    std::function<void(EnteredSettings&)> enter;
    bool changed;
};

void PrintTo(const ChangeCase& row, std::ostream* out) {
    *out << row.name;
}

class SetupChangeTest : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(SetupChangeTest, WritesOnlyWhenSomethingDiffers) {
    ReportedSettings reported = Reported();
    GetParam().report(reported);
    EnteredSettings entered = Untouched(reported);
    GetParam().enter(entered);
    EXPECT_EQ(SettingsChanged(reported, ConfigToWrite(reported, entered)), GetParam().changed);
}

void Same(ReportedSettings&) {}
void Nothing(EnteredSettings&) {}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetupChangeTest,
    ::testing::Values(
        ChangeCase{"NothingTouched", Same, Nothing, false},
        ChangeCase{"BlankPaddedIdentificationIsUnchanged", Same,
                   [](EnteredSettings& e) { e.identification = "Lab-7        "; }, false},
        ChangeCase{"ZeroPaddedIdentificationDiffersFromBlanks",
                   [](ReportedSettings& r) { std::fill_n(r.identification.begin() + 5, 8, 0); },
                   Nothing, true},
        ChangeCase{"AnEmptyIdentificationIsThirteenBlanks", Same,
                   [](EnteredSettings& e) { e.identification.clear(); }, true},
        ChangeCase{"DhcpReportedAsOneAlwaysDiffers", [](ReportedSettings& r) { r.dhcpFlags = 1; },
                   Nothing, true},
        ChangeCase{"DhcpReportedAsSixteenAlwaysDiffers",
                   [](ReportedSettings& r) { r.dhcpFlags = 16; }, Nothing, true},
        ChangeCase{"DhcpReportedAsSeventeenIsTheSame",
                   [](ReportedSettings& r) { r.dhcpFlags = 17; }, Nothing, false},
        ChangeCase{"Port70000IsItsLow16Bits", [](ReportedSettings& r) { r.receptionPort = 4464; },
                   [](EnteredSettings& e) { e.receptionPort = ReadPortText("70000"); }, false},
        ChangeCase{"APortTextWithoutANumberKeepsTheModulesPort", Same,
                   [](EnteredSettings& e) { e.receptionPort = ReadPortText("port"); }, false},
        ChangeCase{"NoPidSelectedKeepsTheModulesPid",
                   [](ReportedSettings& r) { r.usbPid = 0x0B80; },
                   [](EnteredSettings& e) { e.usbPid.reset(); }, false},
        ChangeCase{"AnotherPid", Same, [](EnteredSettings& e) { e.usbPid = 0x0B74; }, true},
        ChangeCase{"AnotherMaskOctet", Same, [](EnteredSettings& e) { e.subnetMask[3] = 128; },
                   true},
        ChangeCase{"AnotherAddressOctet", Same, [](EnteredSettings& e) { e.ipAddress[0] = 10; },
                   true}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(SetupChangeWriteTest, TheRecordCarriesWhatWasEnteredAndTheModulesOwnWhereNothingWas) {
    ReportedSettings reported = Reported();
    EnteredSettings entered = Untouched(reported);
    entered.usbPid.reset();
    entered.receptionPort = ReadPortText("123456"); // the first five characters
    entered.identification = "Hall";
    entered.dhcpEnabled = true;
    const ModuleConfig config = ConfigToWrite(reported, entered);
    EXPECT_EQ(config.usbPid, 0x0B71);
    EXPECT_EQ(config.receptionPort, 12345);
    EXPECT_EQ(std::string(config.identification.begin(), config.identification.end()),
              "Hall         ");
    EXPECT_TRUE(config.dhcpEnabled);
    EXPECT_EQ(config.ipAddress, reported.ipAddress) << "kept, though DHCP is on";
}

TEST(SetupChangeReadBackTest, NamesEveryFieldTheModuleDidNotTake) {
    ReportedSettings reported = Reported();
    EnteredSettings entered = AsReported(reported);
    entered.receptionPort = 7000;
    entered.dhcpEnabled = true;
    const ModuleConfig written = ConfigToWrite(reported, entered);
    ManagementReply readBack;
    readBack.ipAddress = written.ipAddress;
    readBack.subnetMask = written.subnetMask;
    readBack.dhcpFlags = 0x0011;
    readBack.usbPid = written.usbPid;
    readBack.receptionPort = written.receptionPort;
    readBack.identification = written.identification;
    EXPECT_TRUE(DifferencesFromWritten(written, readBack).empty());
    readBack.receptionPort = 6234;
    readBack.dhcpFlags = 0;
    readBack.identification[0] = 'X';
    EXPECT_EQ(DifferencesFromWritten(written, readBack),
              (std::vector<std::string>{"DHCP", "port", "identification"}));
}

} // namespace
} // namespace ostrel
