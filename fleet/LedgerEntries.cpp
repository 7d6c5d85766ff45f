#include "fleet/LedgerEntries.h"

#include "common/HexText.h"
#include "devices/MacText.h"

#include <nlohmann/json.hpp>

namespace ostrel {

Sighting SightingOf(const ManagementReply& reply, const std::string& interfaceName) {
    return {MacText(reply.macAddress),
            FormatDottedQuad(reply.Address()),
            FormatDottedQuad(FromOctets(reply.subnetMask)),
            reply.DhcpEnabled(),
            BytesOf(reply.moduleName),
            BytesOf(reply.versionText),
            BytesOf(reply.DiscoveryIdentification()),
            interfaceName};
}

std::vector<Sighting> SightingsOf(const std::vector<DiscoveredModule>& heard) {
    std::vector<Sighting> sightings;
    for (const DiscoveredModule& module : heard) {
        sightings.push_back(SightingOf(module.reply, module.interfaceName));
    }
    return sightings;
}

namespace {

nlohmann::json Settings(const Octets& address, const Octets& mask, bool dhcp, std::uint16_t pid,
                        std::uint16_t port, std::string_view identification) {
    return {{"address", FormatDottedQuad(FromOctets(address))},
            {"mask", FormatDottedQuad(FromOctets(mask))},
            {"dhcp", dhcp},
            {"pid", HexDigits(pid, 4)},
            {"port", port},
            {"identification", identification}};
}

std::string Text(const nlohmann::json& settings) {
    return settings.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace

std::string SettingsText(const ReportedSettings& reported) {
    const auto& ident = reported.identification;
    return Text(
        Settings(reported.ipAddress, reported.subnetMask, (reported.dhcpFlags & 0x11) != 0,
                 reported.usbPid, reported.receptionPort,
                 std::string_view(reinterpret_cast<const char*>(ident.data()), ident.size())));
}

std::string SettingsText(const ModuleConfig& written) {
    return Text(
        Settings(written.ipAddress, written.subnetMask, written.dhcpEnabled, written.usbPid,
                 written.receptionPort,
                 std::string_view(reinterpret_cast<const char*>(written.identification.data()),
                                  written.identification.size())));
}

} // namespace ostrel
