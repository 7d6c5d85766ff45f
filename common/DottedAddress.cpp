#include "common/DottedAddress.h"

#include <arpa/inet.h>

namespace ostrel {

namespace {

constexpr DeviceAddress broadcastAddress = 0xFFFFFFFF;

} // namespace

std::optional<DeviceAddress> ParseDottedAddress(std::string_view text, std::string& error) {
    const std::string copy(text);
    in_addr address{};
    if (::inet_pton(AF_INET, copy.c_str(), &address) != 1) {
        error = "not an IPv4 address: " + copy;
        return std::nullopt;
    }
    return ntohl(address.s_addr);
}

std::optional<DeviceAddress> ParseModuleAddress(std::string_view text, std::string& error) {
    const auto address = ParseDottedAddress(text, error);
    if (address && (*address == 0 || *address == broadcastAddress)) {
        error = std::string(text) + " is no module's address";
        return std::nullopt;
    }
    return address;
}

} // namespace ostrel
