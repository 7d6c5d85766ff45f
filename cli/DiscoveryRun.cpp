#include "cli/DiscoveryRun.h"

#include <algorithm>

namespace ostrel::cli {

namespace {

std::optional<std::vector<NetworkInterface>> ChosenInterfaces(const std::vector<std::string>& names,
                                                              Console& console) {
    std::vector<NetworkInterface> interfaces = BroadcastInterfaces();
    if (names.empty()) {
        return interfaces;
    }
    std::vector<NetworkInterface> chosen;
    for (const std::string& name : names) {
        const auto found = std::ranges::find(interfaces, name, &NetworkInterface::name);
        if (found == interfaces.end()) {
            console.Error("no interface " + name + " that is up and can broadcast (IPv4)");
            return std::nullopt;
        }
        chosen.push_back(*found);
    }
    return chosen;
}

} // namespace

DiscoveryRun RunDiscovery(const DiscoverArguments& arguments, Console& console,
                          const StopSignals& stop) {
    const auto interfaces = ChosenInterfaces(arguments.interfaces, console);
    if (!interfaces) {
        return {ExitCode::Usage, {}};
    }
    if (interfaces->empty() && arguments.targets.empty()) {
        console.Error("no interface can broadcast here; name the modules to ask with --to");
        return {ExitCode::Failed, {}};
    }

    DiscoveryScan scan;
    std::size_t asked = 0;
    for (const NetworkInterface& interface : *interfaces) {
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
        return {ExitCode::Failed, {}};
    }

    const auto wait = std::chrono::milliseconds(static_cast<long>(arguments.waitSeconds * 1000));
    DiscoveryRun run{ExitCode::Done, scan.Collect(wait, stop.Fd())};
    if (stop.Pending()) {
        console.Error("interrupted while waiting for answers");
        run.failure = ExitCode::Interrupted;
    }
    return run;
}

} // namespace ostrel::cli
