#include "devices/MacText.h"

#include <charconv>
#include <cstdio>

namespace ostrel {

std::string MacText(const MacAddress& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::optional<MacAddress> ParseMac(std::string_view text) {
    if (text.size() != 17) {
        return std::nullopt;
    }
    MacAddress mac{};
    for (std::size_t i = 0; i < mac.size(); ++i) {
        const std::size_t at = 3 * i;
        if (i > 0 && text[at - 1] != '-' && text[at - 1] != ':') {
            return std::nullopt;
        }
        const char* const end = text.data() + at + 2;
        const auto [stop, error] = std::from_chars(text.data() + at, end, mac[i], 16);
        if (error != std::errc() || stop != end) {
            return std::nullopt;
        }
    }
    return mac;
}

} // namespace ostrel
