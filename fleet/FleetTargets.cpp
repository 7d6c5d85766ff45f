#include "fleet/FleetTargets.h"

#include "common/DottedAddress.h"
#include "common/EventWait.h"
#include "devices/MacText.h"
#include "fleet/ApplicationProbe.h"
#include "fleet/TargetMatch.h"

#include <algorithm>
#include <fstream>
#include <memory>

namespace ostrel {

namespace {

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

// A module as the user named it: by address or by MAC.
struct Named {
    std::optional<DeviceAddress> address;
    std::optional<MacAddress> mac;
};

// The targets file: one address or MAC per line; blank lines and # comments are skipped.
bool ReadTargetsFile(const std::string& path, std::vector<Named>& named, Notices& notices) {
    std::ifstream in(path);
    if (!in) {
        notices.Error("cannot read the targets file " + path);
        return false;
    }
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const std::string text = Trimmed(std::string_view(line).substr(0, line.find('#')));
        if (text.empty()) {
            continue;
        }
        if (const auto mac = ParseMac(text)) {
            named.push_back({std::nullopt, mac});
            continue;
        }
        std::string error;
        const auto address = ParseModuleAddress(text, error);
        if (!address) {
            notices.Error(path + ":" + std::to_string(number) + ": " + error);
            return false;
        }
        named.push_back({address, std::nullopt});
    }
    return true;
}

std::optional<std::vector<TargetMatch>> ReadMatches(const std::vector<std::string>& texts,
                                                    Notices& notices) {
    std::vector<TargetMatch> matches;
    for (const std::string& text : texts) {
        std::string error;
        const auto match = ParseTargetMatch(text, error);
        if (!match) {
            notices.Error(error);
            return std::nullopt;
        }
        matches.push_back(*match);
    }
    return matches;
}

FleetTarget TargetOf(const DiscoveredModule& module) {
    return {module.reply.Address(), module.reply.macAddress, module.reply.moduleName,
            module.reply.versionText};
}

// The named modules, then the discovered ones the choice takes; nothing for a MAC that no
// module answered for.
std::optional<std::vector<FleetTarget>>
Chosen(const std::vector<Named>& named, const std::vector<TargetMatch>& matches,
       bool takeDiscovered, const std::vector<DiscoveredModule>& discovered, Notices& notices) {
    std::vector<FleetTarget> targets;
    for (const Named& entry : named) {
        if (entry.mac) {
            const auto module = std::ranges::find(discovered, *entry.mac,
                                                  [](const auto& m) { return m.reply.macAddress; });
            if (module == discovered.end()) {
                notices.Error("no module with MAC " + MacText(*entry.mac) + " answered discovery");
                return std::nullopt;
            }
            targets.push_back(TargetOf(*module));
            continue;
        }
        const auto module = std::ranges::find(discovered, *entry.address,
                                              [](const auto& m) { return m.reply.Address(); });
        targets.push_back(module != discovered.end() ? TargetOf(*module)
                                                     : FleetTarget{*entry.address, {}, {}, {}});
    }
    if (takeDiscovered) {
        for (const DiscoveredModule& module : discovered) {
            if (std::ranges::all_of(matches,
                                    [&](const auto& m) { return Matches(m, module.reply); })) {
                targets.push_back(TargetOf(module));
            }
        }
    }
    return targets;
}

// Each address once; an address that two modules answer for is no target at all.
std::optional<std::vector<FleetTarget>> EachAddressOnce(const std::vector<FleetTarget>& targets,
                                                        const std::vector<DiscoveredModule>& heard,
                                                        Notices& notices) {
    std::vector<FleetTarget> unique;
    for (const FleetTarget& target : targets) {
        if (std::ranges::none_of(unique,
                                 [&](const auto& u) { return u.address == target.address; })) {
            unique.push_back(target);
        }
    }
    for (const FleetTarget& target : unique) {
        std::string macs;
        int count = 0;
        for (const DiscoveredModule& module : heard) {
            if (module.reply.Address() == target.address) {
                macs += (count++ == 0 ? "" : ", ") + MacText(module.reply.macAddress);
            }
        }
        if (count > 1) {
            notices.Error("modules " + macs + " all answer at " + FormatDottedQuad(target.address) +
                          ": refusing to update any of them");
            return std::nullopt;
        }
    }
    return unique;
}

} // namespace

std::variant<std::vector<FleetTarget>, ExitCode>
ResolveTargets(const TargetChoice& choice, Notices& notices, int stopFd, LedgerRecorder* ledger) {
    std::vector<Named> named;
    for (const DeviceAddress address : choice.addresses) {
        named.push_back({address, std::nullopt});
    }
    if (!choice.targetsFile.empty() && !ReadTargetsFile(choice.targetsFile, named, notices)) {
        return ExitCode::Usage;
    }
    const auto matches = ReadMatches(choice.matches, notices);
    if (!matches) {
        return ExitCode::Usage;
    }
    const bool takeDiscovered = choice.all || !matches->empty();
    const bool byMac = std::ranges::any_of(named, [](const Named& n) { return n.mac.has_value(); });
    std::vector<DiscoveredModule> discovered;
    if (byMac || takeDiscovered) {
        DiscoveryRun run = RunDiscovery(choice.discovery, notices, stopFd, ledger);
        if (run.failure != ExitCode::Done) {
            return run.failure;
        }
        notices.Say("discovery: " + std::to_string(run.modules.size()) + " module(s) answered");
        discovered = std::move(run.modules);
    }
    const auto targets = Chosen(named, *matches, takeDiscovered, discovered, notices);
    if (!targets) {
        return ExitCode::NoAnswer;
    }
    auto unique = EachAddressOnce(*targets, discovered, notices);
    if (!unique) {
        return ExitCode::Failed;
    }
    if (unique->empty()) {
        notices.Error("no module to update");
        return takeDiscovered ? ExitCode::NoAnswer : ExitCode::Usage;
    }
    return std::move(*unique);
}

void ReadVersionsBefore(std::vector<FleetTarget>& targets, std::chrono::milliseconds limit,
                        int stopFd) {
    struct Silent final : MessageSink {
        void Show(const Message&) override {}
    } silent;
    std::vector<std::pair<FleetTarget*, std::unique_ptr<ApplicationProbe>>> probes;
    for (FleetTarget& target : targets) {
        if (target.versionBefore.empty()) {
            auto probe = std::make_unique<ApplicationProbe>(target.address, silent, limit);
            if (probe->Open(ApplicationProbe::Clock::now())) {
                probes.emplace_back(&target, std::move(probe));
            }
        }
    }
    EventWait wait;
    for (bool stopped = false; !stopped;) {
        const auto at = ApplicationProbe::Clock::now();
        wait.Watch(stopFd, [&] { stopped = true; });
        for (auto& [target, probe] : probes) {
            if (probe->Answered() || probe->GaveUp(at)) {
                continue;
            }
            probe->Step(at);
            wait.Until(probe->NextDue());
            wait.Watch(probe->Fd(), [&target = target, &probe = probe] {
                probe->OnReadable();
                if (probe->Answered()) {
                    target->name = probe->Answer().moduleName;
                    target->versionBefore = probe->Answer().versionText;
                    target->mac = probe->Answer().macAddress;
                }
            });
        }
        if (!wait.Due()) {
            break;
        }
        wait.Wait();
    }
}

} // namespace ostrel
