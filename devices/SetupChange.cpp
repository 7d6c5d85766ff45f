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
