#include "cli/FleetTargets.h"

#include "cli/ApplicationProbe.h"
#include "cli/Arguments.h"
#include "cli/DiscoveryRun.h"
#include "devices/DiscoveryScan.h"
#include "devices/MacText.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fnmatch.h>
#include <fstream>
#include <poll.h>

namespace ostrel::cli {

namespace {

std::string Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

std::string Normalized(std::string_view mac) {
    std::string text;
    for (const char c : mac) {
        text += c == ':' ? '-' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

struct Named {
    std::optional<DeviceAddress> address;
    std::optional<MacAddress> mac;
};

// The targets file: one address or MAC per line; blank lines and # comments are skipped.
std::optional<std::vector<Named>> ReadTargetsFile(const std::string& path, Console& console) {
    std::ifstream in(path);
    if (!in) {
        console.Error("cannot read the targets file " + path);
        return std::nullopt;
    }
    std::vector<Named> named;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const std::string text = Trim(std::string_view(line).substr(0, line.find('#')));
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
            console.Error(path + ":" + std::to_string(number) + ": " + error);
            return std::nullopt;
        }
        named.push_back({address, std::nullopt});
    }
    return named;
}

FleetTarget TargetOf(const DiscoveredModule& module) {
    return {module.reply.Address(), module.reply.macAddress, module.reply.moduleName,
            module.reply.versionText};
}

} // namespace

std::optional<TargetMatch> ParseTargetMatch(std::string_view text, std::string& error) {
    const auto equals = text.find('=');
    if (equals == std::string_view::npos || equals + 1 == text.size()) {
        error = "--match takes FIELD=TEXT, not " + std::string(text);
        return std::nullopt;
    }
    const std::string_view field = text.substr(0, equals);
    const std::string value(text.substr(equals + 1));
    if (field == "name") {
        return TargetMatch{TargetMatch::Field::Name, value};
    }
    if (field == "identification" || field == "ident") {
        return TargetMatch{TargetMatch::Field::Identification, value};
    }
    if (field == "version") {
        return TargetMatch{TargetMatch::Field::Version, value};
    }
    if (field == "mac") {
        return TargetMatch{TargetMatch::Field::MacPrefix, Normalized(value)};
    }
    error = "--match knows name, identification, version and mac, not " + std::string(field);
    return std::nullopt;
}

bool Matches(const TargetMatch& match, const ManagementReply& reply) {
    const auto pattern = [&](const std::string& value) {
        return ::fnmatch(match.text.c_str(), value.c_str(), 0) == 0;
    };
    switch (match.field) {
    case TargetMatch::Field::Name:
        return pattern(reply.moduleName);
    case TargetMatch::Field::Identification:
        return pattern(Trim(reply.DiscoveryIdentification()));
    case TargetMatch::Field::Version:
        return pattern(reply.versionText);
    case TargetMatch::Field::MacPrefix:
        return MacText(reply.macAddress).starts_with(match.text);
    }
    return false;
}

std::variant<std::vector<FleetTarget>, ExitCode>
ResolveTargets(const TargetChoice& choice, Console& console, const StopSignals& stop) {
    std::vector<Named> named;
    for (const DeviceAddress address : choice.addresses) {
        named.push_back({address, std::nullopt});
    }
    if (!choice.targetsFile.empty()) {
        auto fromFile = ReadTargetsFile(choice.targetsFile, console);
        if (!fromFile) {
            return ExitCode::Usage;
        }
        named.insert(named.end(), fromFile->begin(), fromFile->end());
    }
    std::vector<TargetMatch> matches;
    for (const std::string& text : choice.matches) {
        std::string error;
        const auto match = ParseTargetMatch(text, error);
        if (!match) {
            console.Error(error);
            return ExitCode::Usage;
        }
        matches.push_back(*match);
    }

    const bool byMac = std::ranges::any_of(named, [](const Named& n) { return n.mac.has_value(); });
    std::vector<DiscoveredModule> discovered;
    if (byMac || choice.all || !matches.empty()) {
        DiscoveryRun run = RunDiscovery(choice.discovery, console, stop);
        if (run.failure != ExitCode::Done) {
            return run.failure;
        }
        console.Say("discovery: " + std::to_string(run.modules.size()) + " module(s) answered");
        discovered = std::move(run.modules);
    }

    std::vector<FleetTarget> targets;
    for (const Named& entry : named) {
        if (entry.mac) {
            const auto module = std::ranges::find(discovered, *entry.mac,
                                                  [](const auto& m) { return m.reply.macAddress; });
            if (module == discovered.end()) {
                console.Error("no module with MAC " + MacText(*entry.mac) + " answered discovery");
                return ExitCode::NoAnswer;
            }
            targets.push_back(TargetOf(*module));
            continue;
        }
        const auto module = std::ranges::find(discovered, *entry.address,
                                              [](const auto& m) { return m.reply.Address(); });
        targets.push_back(module != discovered.end() ? TargetOf(*module)
                                                     : FleetTarget{*entry.address, {}, {}, {}});
    }
    if (choice.all || !matches.empty()) {
        for (const DiscoveredModule& module : discovered) {
            if (std::ranges::all_of(matches,
                                    [&](const auto& m) { return Matches(m, module.reply); })) {
                targets.push_back(TargetOf(module));
            }
        }
    }

    // Each address once; an address that two modules answer for is no target at all.
    std::vector<FleetTarget> unique;
    for (const FleetTarget& target : targets) {
        if (std::ranges::none_of(unique,
                                 [&](const auto& u) { return u.address == target.address; })) {
            unique.push_back(target);
        }
    }
    for (const FleetTarget& target : unique) {
        std::vector<std::string> macs;
        for (const DiscoveredModule& module : discovered) {
            if (module.reply.Address() == target.address) {
                macs.push_back(MacText(module.reply.macAddress));
            }
        }
        if (macs.size() > 1) {
            std::string list;
            for (const auto& mac : macs) {
                list += (list.empty() ? "" : ", ") + mac;
            }
            console.Error("modules " + list + " all answer at " + FormatDottedQuad(target.address) +
                          ": refusing to update any of them");
            return ExitCode::Failed;
        }
    }
    if (unique.empty()) {
        console.Error("no module to update");
        return choice.all || !matches.empty() ? ExitCode::NoAnswer : ExitCode::Usage;
    }
    return unique;
}

void ReadVersionsBefore(std::vector<FleetTarget>& targets, std::chrono::milliseconds limit,
                        const StopSignals& stop) {
    struct Silent final : MessageSink {
        void Show(const Message&) override {}
    } silent;
    std::vector<std::pair<FleetTarget*, std::unique_ptr<ApplicationProbe>>> probes;
    const auto now = ApplicationProbe::Clock::now();
    for (FleetTarget& target : targets) {
        if (target.versionBefore.empty()) {
            auto probe = std::make_unique<ApplicationProbe>(target.address, silent, limit);
            if (probe->Open(now)) {
                probes.emplace_back(&target, std::move(probe));
            }
        }
    }
    while (true) {
        const auto at = ApplicationProbe::Clock::now();
        std::vector<pollfd> watched{{stop.Fd(), POLLIN, 0}};
        std::optional<ApplicationProbe::Clock::time_point> due;
        for (auto& [target, probe] : probes) {
            if (!probe->Answered() && !probe->GaveUp(at)) {
                probe->Step(at);
                watched.push_back({probe->Fd(), POLLIN, 0});
                due = due ? std::min(*due, probe->NextDue()) : probe->NextDue();
            }
        }
        if (!due) {
            break;
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - at).count();
        ::poll(watched.data(), watched.size(), static_cast<int>(std::max<long>(wait, 0)));
        if (watched[0].revents != 0) {
            break;
        }
        std::size_t next = 1;
        for (auto& [target, probe] : probes) {
            if (probe->Answered() || probe->GaveUp(at)) {
                continue;
            }
            if (watched[next++].revents != 0) {
                probe->OnReadable();
                if (probe->Answered()) {
                    target->name = probe->Answer().moduleName;
                    target->versionBefore = probe->Answer().versionText;
                    target->mac = probe->Answer().macAddress;
                }
            }
        }
    }
}

} // namespace ostrel::cli
