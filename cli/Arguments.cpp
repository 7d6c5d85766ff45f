#include "cli/Arguments.h"

#include "devices/ManagementDatagrams.h"

#include <charconv>

namespace ostrel::cli {

std::optional<DeviceAddress> ParseSubnetMask(std::string_view text, std::string& error) {
    const auto mask = ParseDottedAddress(text, error);
    if (mask && (~*mask & (~*mask + 1)) != 0) {
        error = "not a subnet mask (its ones must come first): " + std::string(text);
        return std::nullopt;
    }
    return mask;
}

std::optional<std::uint16_t> ParseUsbPid(std::string_view text, std::string& error) {
    std::string_view digits = text;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        digits.remove_prefix(2);
    }
    unsigned value = 0;
    const auto [end, status] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (digits.empty() || status != std::errc() || end != digits.data() + digits.size() ||
        value < 0x0B70 || value > 0x0B77) {
        error = "a USB PID is one of 0B70 to 0B77, not " + std::string(text);
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

std::optional<std::uint16_t> ParsePort(std::string_view text, std::string& error) {
    unsigned value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || status != std::errc() || end != text.data() + text.size() || value == 0 ||
        value > 0xFFFF) {
        error = "a port is a number from 1 to 65535, not " + std::string(text);
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

std::optional<std::string> ParseIdentification(std::string_view text, std::string& error) {
    if (text.size() > identificationLength) {
        error = "an identification has at most 13 characters: " + std::string(text) + " has " +
                std::to_string(text.size());
        return std::nullopt;
    }
    for (const char c : text) {
        if (c < 0x20 || c > 0x7E) {
            error = "an identification is printable ASCII: " + std::string(text);
            return std::nullopt;
        }
    }
    return std::string(text);
}

std::optional<bool> ParseOnOff(std::string_view text, std::string& error) {
    if (text == "on") {
        return true;
    }
    if (text == "off") {
        return false;
    }
    error = "on or off, not " + std::string(text);
    return std::nullopt;
}

bool ReadDiscoveryChoice(const std::vector<std::string>& toTexts, DiscoveryChoice& into,
                         std::string& error) {
    if (!(into.waitSeconds > 0) || into.waitSeconds > 3600) {
        error = "--wait takes seconds above 0 and up to 3600";
        return false;
    }
    return ReadEach(&ParseDottedAddress, toTexts, into.targets, error);
}

} // namespace ostrel::cli
