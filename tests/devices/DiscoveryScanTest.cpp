// Discovery's requests and replies on loopback, unicast only: broadcasts are tried inside
// network namespaces alone (tests/netns).
#include "devices/DiscoveryScan.h"

#include "tests/support/FakeModule.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// A reply of a module with the given address, last MAC byte and name.
Bytes ModuleReply(DeviceAddress address, std::uint8_t macEnd, const std::string& name,
                  std::size_t length = 73) {
    Bytes reply(length, 0);
    const Bytes magic = {0xCA, 0xFE, 0x20, 0x03};
    std::copy(magic.begin(), magic.end(), reply.begin());
    const Octets octets = ToOctets(address);
    std::copy(octets.begin(), octets.end(), reply.begin() + 9);
    const Bytes mac = {0x00, 0x50, 0xC2, 0x00, 0x00, macEnd};
    std::copy(mac.begin(), mac.end(), reply.begin() + 17);
    std::copy(name.begin(), name.end(), reply.begin() + 41);
    reply.resize(length);
    return reply;
}

DeviceAddress Loopback(int n) {
    return 0x7F002000u | static_cast<DeviceAddress>(n); // 127.0.32.n
}

std::string LoopbackText(int n) {
    return "127.0.32." + std::to_string(n);
}

TEST(DiscoveryScanTest, ListsEachMacOnceAndFlagsTwoMacsWithOneAddress) {
    const DeviceAddress shared = 0x0A000005;
    test::FakeModule first(LoopbackText(1).c_str(), {ModuleReply(shared, 1, "IO-1")});
    test::FakeModule second(LoopbackText(2).c_str(), {ModuleReply(shared, 2, "IO-2")});
    // The first one heard again, as through a second path: whichever copy comes first, the
    // listed module is the same.
    test::FakeModule again(LoopbackText(3).c_str(), {ModuleReply(shared, 1, "IO-1")});
    test::FakeModule alone(LoopbackText(4).c_str(), {ModuleReply(Loopback(4), 4, "IO-4")});
    DiscoveryScan scan;
    std::string error;
    for (int n = 1; n <= 4; ++n) {
        ASSERT_TRUE(scan.RequestTo(Loopback(n), error)) << error;
    }
    const auto modules = scan.Collect(300ms);
    ASSERT_EQ(modules.size(), 3u) << "the third module repeats the first one's MAC";
    for (const auto& module : modules) {
        const bool shares = module.reply.Address() == shared;
        EXPECT_EQ(module.addressShared, shares) << module.reply.moduleName;
        EXPECT_EQ(module.interfaceName, "lo");
        EXPECT_FALSE(module.outsideSubnet) << "loopback is no interface discovery broadcasts on";
    }
    EXPECT_EQ(first.Received('R').size(), 1u) << "one request each";
    EXPECT_EQ(alone.Received('R').size(), 1u);
}

TEST(DiscoveryScanTest, IgnoresShortRepliesAndOtherDatagrams) {
    Bytes notAReply = ModuleReply(Loopback(6), 6, "IO-6");
    notAReply[3] = 0x04;
    test::FakeModule shortOne(LoopbackText(5).c_str(), {ModuleReply(Loopback(5), 5, "IO-5", 64)});
    test::FakeModule wrongMagic(LoopbackText(6).c_str(), {notAReply});
    DiscoveryScan scan;
    std::string error;
    ASSERT_TRUE(scan.RequestTo(Loopback(5), error));
    ASSERT_TRUE(scan.RequestTo(Loopback(6), error));
    EXPECT_TRUE(scan.Collect(200ms).empty());
}

} // namespace
} // namespace ostrel
