#include "sim/OptionValues.h"

#include <arpa/inet.h>
#include <charconv>
#include <cstring>

namespace ostrel::sim {

std::optional<std::uint64_t> ParseNumber(std::string_view text, std::uint64_t max) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::array<std::uint8_t, 4>> ParseAddress(const std::string& text) {
    in_addr address{};
    if (::inet_pton(AF_INET, text.c_str(), &address) != 1) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 4> octets{};
    std::memcpy(octets.data(), &address.s_addr, octets.size());
    return octets;
}

std::optional<std::array<std::uint8_t, 6>> ParseMac(std::string_view text) {
    std::array<std::uint8_t, 6> mac{};
    if (text.size() != 17) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < mac.size(); ++i) {
        const std::size_t at = 3 * i;
        if (i > 0 && text[at - 1] != '-' && text[at - 1] != ':') {
            return std::nullopt;
        }
        const auto [end, error] =
            std::from_chars(text.data() + at, text.data() + at + 2, mac[i], 16);
        if (error != std::errc() || end != text.data() + at + 2) {
            return std::nullopt;
        }
    }
    return mac;
}

std::optional<double> ParseProbability(std::string_view text) {
    double value = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !(value >= 0.0) ||
        !(value <= 1.0)) {
        return std::nullopt;
    }
    return value;
}

} // namespace ostrel::sim
