#include "devices/SetupChange.h"

#include "common/DecimalText.h"

#include <algorithm>

namespace ostrel {

namespace {

constexpr std::size_t portCharacters = 5; // only so many characters of the port are read

} // namespace

ReportedSettings ReportedSettings::From(const ManagementReply& reply) {
    return {reply.identification, reply.ipAddress, reply.subnetMask,
            reply.dhcpFlags,      reply.usbPid,    reply.receptionPort};
}

EnteredSettings AsReported(const ReportedSettings& reported) {
    EnteredSettings entered;
    entered.ipAddress = reported.ipAddress;
    entered.subnetMask = reported.subnetMask;
    entered.dhcpEnabled = (reported.dhcpFlags & 0x11) != 0;
    entered.usbPid = reported.usbPid;
    entered.receptionPort = reported.receptionPort;
    const auto end = std::ranges::find(reported.identification, std::uint8_t{0});
    entered.identification.assign(reported.identification.begin(), end);
    return entered;
}

std::vector<std::string> DifferencesFromWritten(const ModuleConfig& written,
                                                const ManagementReply& readBack) {
    std::vector<std::string> differences;
    const auto differ = [&](bool same, const char* name) {
        if (!same) {
            differences.emplace_back(name);
        }
    };
    differ(readBack.ipAddress == written.ipAddress, "address");
    differ(readBack.subnetMask == written.subnetMask, "mask");
    differ(readBack.DhcpEnabled() == written.dhcpEnabled, "DHCP");
    differ(readBack.receptionPort == written.receptionPort, "port");
    differ(readBack.usbPid == written.usbPid, "USB PID");
    differ(readBack.identification == written.identification, "identification");
    return differences;
}

std::optional<std::int32_t> ReadPortText(std::string_view text) {
    return ScanDecimal(text.substr(0, portCharacters));
}

ModuleConfig ConfigToWrite(const ReportedSettings& reported, const EnteredSettings& entered) {
    ModuleConfig config;
    config.ipAddress = entered.ipAddress;
    config.subnetMask = entered.subnetMask;
    config.dhcpEnabled = entered.dhcpEnabled;
    config.usbPid = entered.usbPid.value_or(reported.usbPid);
    config.receptionPort = entered.receptionPort
                               ? static_cast<std::uint16_t>(*entered.receptionPort)
                               : reported.receptionPort;
    std::string padded = entered.identification.substr(0, identificationLength);
    padded.resize(identificationLength, ' ');
    std::ranges::copy(padded, config.identification.begin());
    return config;
}

bool SettingsChanged(const ReportedSettings& reported, const ModuleConfig& toWrite) {
    const std::uint16_t dhcpValue = toWrite.dhcpEnabled ? dhcpOn : 0;
    return toWrite.usbPid != reported.usbPid || toWrite.receptionPort != reported.receptionPort ||
           toWrite.ipAddress != reported.ipAddress || toWrite.subnetMask != reported.subnetMask ||
           dhcpValue != reported.dhcpFlags || toWrite.identification != reported.identification;
}

} // namespace ostrel
