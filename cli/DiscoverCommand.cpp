#include "cli/DiscoverCommand.h"

#include "cli/Arguments.h"
#include "common/SafeText.h"
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

DiscoverCommand::DiscoverCommand(CLI::App& app) {
    command = app.add_subcommand("discover", "list the modules that answer");
    command->add_option("--interface", choice.interfaces,
                        "ask only through this interface (repeatable)");
    command->add_option("--to", toTexts, "ask this address too (repeatable)");
    command->add_option("--wait", choice.waitSeconds, "seconds to wait (2)");
}

ExitCode DiscoverCommand::Run(Console& console, const StopSignals& stop, LedgerAccess& ledger) {
    std::string error;
    if (!ReadDiscoveryChoice(toTexts, choice, error)) {
        console.Error(error);
        return ExitCode::Usage;
    }
    LedgerRecorder* recorder = ledger.ForRecording(console);
    if (recorder == nullptr) {
        return ExitCode::Failed;
    }
    const DiscoveryRun run = RunDiscovery(choice, console, stop.Fd(), recorder);
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
        // Names and versions come from the network: printed so that they cannot steer a terminal.
        std::string line = SafeText(reply.moduleName) + "  " + MacText(reply.macAddress) + "  <" +
                           SafeText(ident) + ">  " + FormatDottedQuad(reply.Address()) + "/" +
                           FormatDottedQuad(FromOctets(reply.subnetMask)) + "  DHCP " +
                           (reply.DhcpEnabled() ? "on" : "off") + "  version " +
                           SafeText(reply.versionText) + "  on " + module.interfaceName;
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
