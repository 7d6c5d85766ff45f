#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace ostrel::sim {

struct FaultSettings {
    bool silent = false;
    unsigned dropFirst = 0;
    double loss = 0.0; // probability in [0, 1]
    std::uint64_t seed = 1;
};

// Decides which incoming datagrams the module pretends not to have heard. The wake string is
// never offered to it.
class FaultInjector {
public:
    explicit FaultInjector(const FaultSettings& chosen);

    // Asked once for every datagram before it is looked at: the reason ("silent", "loss") when
    // the module is not to receive it at all.
    std::optional<std::string_view> Lose();
    // Asked for a datagram whose command is known: commandKey names the command ("boot:2",
    // "app:R"); true while it is among the first N of that command.
    bool DropFirst(std::string_view commandKey);

private:
    FaultSettings settings;
    std::map<std::string, unsigned, std::less<>> seen;
    std::mt19937_64 random;
};

} // namespace ostrel::sim
