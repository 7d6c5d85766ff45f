#include "cli/Arguments.h"

#include <string>

#include <gtest/gtest.h>

namespace ostrel::cli {
namespace {

template <typename T>
struct Row {
    const char* text;
    std::optional<T> expected; // nothing: refused
};

template <typename T>
void Check(std::optional<T> (*parse)(std::string_view, std::string&),
           const std::vector<Row<T>>& rows) {
    for (const auto& row : rows) {
        std::string error;
        const auto value = parse(row.text, error);
        EXPECT_EQ(value, row.expected) << "\"" << row.text << "\"";
        EXPECT_EQ(error.empty(), value.has_value()) << "a refusal says why: " << row.text;
    }
}

TEST(ArgumentsTest, AModulesAddressIsNeverABroadcastOrNone) {
    Check<DeviceAddress>(&ParseModuleAddress, {{"192.168.2.242", 0xC0A802F2},
                                               {"127.0.0.1", 0x7F000001},
                                               {"0.0.0.0", std::nullopt},
                                               {"255.255.255.255", std::nullopt},
                                               {"192.168.2", std::nullopt},
                                               {"1.2.3.4.5", std::nullopt},
                                               {"1.2.3.256", std::nullopt},
                                               {" 1.2.3.4", std::nullopt},
                                               {"", std::nullopt}});
}

TEST(ArgumentsTest, ASubnetMaskHasItsOnesFirst) {
    Check<DeviceAddress>(&ParseSubnetMask, {{"255.255.255.0", 0xFFFFFF00},
                                            {"255.255.255.255", 0xFFFFFFFF},
                                            {"0.0.0.0", 0},
                                            {"255.255.254.0", 0xFFFFFE00},
                                            {"255.0.255.0", std::nullopt},
                                            {"0.255.255.255", std::nullopt}});
}

TEST(ArgumentsTest, PidsPortsAndSwitches) {
    Check<std::uint16_t>(&ParseUsbPid, {{"0B70", 0x0B70},
                                        {"0b77", 0x0B77},
                                        {"0x0B74", 0x0B74},
                                        {"0B80", std::nullopt},
                                        {"0B6F", std::nullopt},
                                        {"B7", std::nullopt},
                                        {"0B7G", std::nullopt}});
    Check<std::uint16_t>(&ParsePort, {{"6234", 6234},
                                      {"65535", 65535},
                                      {"0", std::nullopt},
                                      {"70000", std::nullopt},
                                      {"-1", std::nullopt},
                                      {"62a", std::nullopt}});
    Check<bool>(&ParseOnOff, {{"on", true}, {"off", false}, {"yes", std::nullopt}});
}

TEST(ArgumentsTest, AnIdentificationIsNeverCutSilently) {
    Check<std::string>(&ParseIdentification, {{"Lab-7", std::string("Lab-7")},
                                              {"thirteen char", std::string("thirteen char")},
                                              {"fourteen chars", std::nullopt},
                                              {"tab\there", std::nullopt},
                                              {"", std::string()}});
}

} // namespace
} // namespace ostrel::cli
