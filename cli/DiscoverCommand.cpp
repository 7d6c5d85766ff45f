#include "cli/Commands.h"
#include "cli/DiscoveryRun.h"
#include "devices/MacText.h"

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
    const DiscoveryRun run = RunDiscovery(arguments, console, stop);
    if (run.failure != ExitCode::Done) {
        return run.failure;
    }
    for (const DiscoveredModule& module : run.modules) {
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
    const ExitCode code = run.modules.empty() ? ExitCode::NoAnswer : ExitCode::Done;
    console.Json({{"event", "end"}, {"modules", run.modules.size()}, {"exitCode", ToInt(code)}});
    if (run.modules.empty()) {
        console.Error("no module answered");
    } else {
        console.Say(std::to_string(run.modules.size()) + " module(s)");
    }
    return code;
}

} // namespace ostrel::cli
