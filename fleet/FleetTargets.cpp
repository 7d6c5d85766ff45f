#include "fleet/FleetTargets.h"

#include "common/DottedAddress.h"
#include "common/TrimmedText.h"
#include "devices/MacText.h"
#include "fleet/ModuleReads.h"
#include "fleet/TargetMatch.h"

#include <algorithm>
#include <fstream>

namespace ostrel {

namespace {

using Named = TargetName;

} // namespace

bool ReadTargetsFile(const std::string& path, std::vector<TargetName>& named, Notices& notices) {
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

namespace {

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

std::vector<ModuleTarget> ModuleTargetsOf(const std::vector<FleetTarget>& targets) {
    std::vector<ModuleTarget> modules;
    for (const FleetTarget& target : targets) {
        modules.push_back({target.address, FormatDottedQuad(target.address),
                           target.mac ? MacText(*target.mac) : std::string(), target.name,
                           target.versionBefore});
    }
    return modules;
}

void ReadVersionsBefore(std::vector<FleetTarget>& targets, std::chrono::milliseconds limit,
                        int stopFd) {
    std::vector<FleetTarget*> unknown;
    std::vector<DeviceAddress> addresses;
    for (FleetTarget& target : targets) {
        if (target.versionBefore.empty()) {
            unknown.push_back(&target);
            addresses.push_back(target.address);
        }
    }
    const auto replies = ReadModules(addresses, limit, stopFd);
    for (std::size_t i = 0; i < unknown.size(); ++i) {
        if (replies[i]) {
            unknown[i]->name = replies[i]->moduleName;
            unknown[i]->versionBefore = replies[i]->versionText;
            unknown[i]->mac = replies[i]->macAddress;
        }
    }
}

} // namespace ostrel
