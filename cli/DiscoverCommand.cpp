#include "cli/Commands.h"
#include "devices/DiscoveryScan.h"
#include "devices/MacText.h"

#include <algorithm>
#include <cstdio>

namespace ostrel::cli {

namespace {

std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

} // namespace

ExitCode RunDiscover(const DiscoverArguments& arguments, Console& console,
                     const StopSignals& stop) {
    std::vector<NetworkInterface> interfaces = BroadcastInterfaces();
    if (!arguments.interfaces.empty()) {
        std::vector<NetworkInterface> chosen;
        for (const std::string& name : arguments.interfaces) {
            const auto found = std::ranges::find(interfaces, name, &NetworkInterface::name);
            if (found == interfaces.end()) {
                console.Error("no interface " + name + " that is up and can broadcast (IPv4)");
                return ExitCode::Usage;
            }
            chosen.push_back(*found);
        }
        interfaces = std::move(chosen);
    }
    if (interfaces.empty() && arguments.targets.empty()) {
        console.Error("no interface can broadcast here; name the modules to ask with --to");
        return ExitCode::Failed;
    }

    DiscoveryScan scan;
    std::size_t asked = 0;
    for (const NetworkInterface& interface : interfaces) {
        std::string error;
        if (scan.RequestOn(interface, error)) {
            ++asked;
            console.Say("asking on " + interface.name + " (" + FormatDottedQuad(interface.address) +
                        ", broadcast " + FormatDottedQuad(interface.broadcast) + ")");
        } else {
            console.Warn("cannot ask on " + interface.name + ": " + error);
        }
    }
    for (const DeviceAddress target : arguments.targets) {
        std::string error;
        if (scan.RequestTo(target, error)) {
            ++asked;
        } else {
            console.Warn("cannot ask " + FormatDottedQuad(target) + ": " + error);
        }
    }
    if (asked == 0) {
        console.Error("no request could be sent");
        return ExitCode::Failed;
    }

    const auto wait = std::chrono::milliseconds(static_cast<long>(arguments.waitSeconds * 1000));
    const auto modules = scan.Collect(wait, stop.Fd());
    if (stop.Pending()) {
        console.Error("interrupted while waiting for answers");
        return ExitCode::Interrupted;
    }
    for (const DiscoveredModule& module : modules) {
        const ManagementReply& reply = module.reply;
        const std::string ident = Trimmed(reply.DiscoveryIdentification());
        console.Json({{"event", "module"},
                      {"module", FormatDottedQuad(reply.Address())},
                      {"name", reply.moduleName},
                      {"mac", MacText(reply.macAddress)},
                      {"identification", reply.DiscoveryIdentification()},
                      {"address", FormatDottedQuad(reply.Address())},
                      {"mask", FormatDottedQuad(FromOctets(reply.subnetMask))},
                      {"dhcp", reply.DhcpEnabled()},
                      {"version", reply.versionText},
                      {"interface", module.interfaceName},
                      {"source", FormatDottedQuad(module.source)},
                      {"addressShared", module.addressShared},
                      {"outsideSubnet", module.outsideSubnet}});
        std::string line = reply.moduleName + "  " + MacText(reply.macAddress) + "  <" + ident +
                           ">  " + FormatDottedQuad(reply.Address()) + "/" +
                           FormatDottedQuad(FromOctets(reply.subnetMask)) + "  DHCP " +
                           (reply.DhcpEnabled() ? "on" : "off") + "  version " + reply.versionText +
                           "  on " + module.interfaceName;
        if (module.addressShared) {
            line += "  [another module has this address]";
        }
        if (module.outsideSubnet) {
            line += "  [outside the subnet of " + module.interfaceName + "]";
        }
        console.Say(line);
    }
    const ExitCode code = modules.empty() ? ExitCode::NoAnswer : ExitCode::Done;
    console.Json({{"event", "end"}, {"modules", modules.size()}, {"exitCode", ToInt(code)}});
    if (modules.empty()) {
        console.Error("no module answered");
    } else {
        console.Say(std::to_string(modules.size()) + " module(s)");
    }
    return code;
}

} // namespace ostrel::cli
