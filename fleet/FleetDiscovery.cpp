#include "fleet/FleetDiscovery.h"

#include "fleet/LedgerEntries.h"

#include <algorithm>
#include <poll.h>

namespace ostrel {

namespace {

std::optional<std::vector<NetworkInterface>> ChosenInterfaces(const std::vector<std::string>& names,
                                                              Notices& notices) {
    std::vector<NetworkInterface> interfaces = BroadcastInterfaces();
    if (names.empty()) {
        return interfaces;
    }
    std::vector<NetworkInterface> chosen;
    for (const std::string& name : names) {
        const auto found = std::ranges::find(interfaces, name, &NetworkInterface::name);
        if (found == interfaces.end()) {
            notices.Error("no interface " + name + " that is up and can broadcast (IPv4)");
            return std::nullopt;
        }
        chosen.push_back(*found);
    }
    return chosen;
}

// A stop descriptor that can be read: the stop came.
bool Stopped(int stopFd) {
    pollfd entry{stopFd, POLLIN, 0};
    return stopFd >= 0 && ::poll(&entry, 1, 0) > 0;
}

} // namespace

DiscoveryRun RunDiscovery(const DiscoveryChoice& arguments, Notices& notices, int stopFd,
                          LedgerRecorder* ledger) {
    const auto interfaces = ChosenInterfaces(arguments.interfaces, notices);
    if (!interfaces) {
        return {ExitCode::Usage, {}};
    }
    if (interfaces->empty() && arguments.targets.empty()) {
        notices.Error("no interface can broadcast here; name the modules to ask with --to");
        return {ExitCode::Failed, {}};
    }

    DiscoveryScan scan;
    std::size_t asked = 0;
    for (const NetworkInterface& interface : *interfaces) {
        std::string error;
        if (scan.RequestOn(interface, error)) {
            ++asked;
            notices.Say("asking on " + interface.name + " (" + FormatDottedQuad(interface.address) +
                        ", broadcast " + FormatDottedQuad(interface.broadcast) + ")");
        } else {
            notices.Warn("cannot ask on " + interface.name + ": " + error);
        }
    }
    for (const DeviceAddress target : arguments.targets) {
        std::string error;
        if (scan.RequestTo(target, error)) {
            ++asked;
        } else {
            notices.Warn("cannot ask " + FormatDottedQuad(target) + ": " + error);
        }
    }
    if (asked == 0) {
        notices.Error("no request could be sent");
        return {ExitCode::Failed, {}};
    }

    const auto wait = std::chrono::milliseconds(static_cast<long>(arguments.waitSeconds * 1000));
    DiscoveryRun run{ExitCode::Done, scan.Collect(wait, stopFd)};
    if (Stopped(stopFd)) {
        notices.Error("interrupted while waiting for answers");
        run.failure = ExitCode::Interrupted;
    } else if (ledger != nullptr) {
        ledger->RecordScan(SightingsOf(run.modules));
    }
    return run;
}

} // namespace ostrel
