#include "devices/DeviceList.h"

#include "devices/ManagementDatagrams.h"
#include "tests/support/Bytes.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using test::Bytes;

// A reply of a module with the given MAC, address, name, version and identification.
Bytes Reply(const MacAddress& mac, DeviceAddress address, const std::string& name = "VEXA-IO",
            const std::string& version = "1.06", const std::string& ident = "Lab-7") {
    Bytes reply(73, 0);
    const std::uint8_t magic[] = {0xCA, 0xFE, 0x20, 0x03};
    std::copy(std::begin(magic), std::end(magic), reply.begin());
    const Octets octets = ToOctets(address);
    std::copy(octets.begin(), octets.end(), reply.begin() + 9);
    std::copy(mac.begin(), mac.end(), reply.begin() + 17);
    std::copy_n(ident.begin(), std::min<std::size_t>(8, ident.size()), reply.begin() + 23);
    if (ident.size() > 8) {
        std::copy(ident.begin() + 8, ident.end(), reply.begin() + 59);
    }
    std::copy(version.begin(), version.end(), reply.begin() + 33);
    std::copy(name.begin(), name.end(), reply.begin() + 41);
    return reply;
}

std::vector<MacAddress> Macs(const DeviceList& list) {
    std::vector<MacAddress> macs;
    for (const auto& node : list.Nodes()) {
        macs.push_back(node.mac);
    }
    return macs;
}

TEST(CompareMacTest, FirstByteIsMostSignificantAndUnsigned) {
    EXPECT_EQ(CompareMac({0, 0x11, 0x22, 0x33, 0x44, 0x55}, {0, 0x11, 0x22, 0x33, 0x44, 0x55}), 0);
    EXPECT_LT(CompareMac({0, 0x11, 0x22, 0x33, 0x44, 0x55}, {0, 0x11, 0x22, 0x33, 0x44, 0x66}), 0);
    EXPECT_GT(CompareMac({0x01, 0, 0, 0, 0, 0}, {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), 0);
    EXPECT_GT(CompareMac({0x80, 0, 0, 0, 0, 0}, {0x7F, 0, 0, 0, 0, 0}), 0) << "bytes are unsigned";
}

TEST(DeviceListTest, KeepsDescendingMacOrderAndDropsRepeats) {
    DeviceList list;
    const MacAddress first = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    const MacAddress second = {0x00, 0x11, 0x22, 0x33, 0x44, 0x66};
    const MacAddress low = {0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
    const MacAddress high = {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45};
    EXPECT_EQ(list.InsertDevice(*DeviceFromReply(Reply(first, 0x0A000001))),
              DeviceList::Insertion::First);
    EXPECT_EQ(list.InsertDevice(*DeviceFromReply(Reply(second, 0x0A000002))),
              DeviceList::Insertion::Added);
    EXPECT_EQ(list.InsertDevice(*DeviceFromReply(Reply(low, 0x0A000003))),
              DeviceList::Insertion::Added);
    EXPECT_EQ(list.InsertDevice(*DeviceFromReply(Reply(high, 0x0A000004))),
              DeviceList::Insertion::Added);
    EXPECT_EQ(list.InsertDevice(*DeviceFromReply(Reply(first, 0x0A000009))),
              DeviceList::Insertion::Duplicate);
    EXPECT_EQ(Macs(list), (std::vector<MacAddress>{high, second, first, low}));
    EXPECT_EQ(list.Nodes()[2].Address(), 0x0A000001u) << "the first reply heard stays";
    list.Clear();
    EXPECT_TRUE(list.Nodes().empty());
}

TEST(DeviceListTest, LabelsShowNameMacIdentificationAddressAndVersion) {
    const auto node = DeviceFromReply(
        Reply({0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45}, 0xC0A80205, "IO-8", "2.10", "Lab-7"));
    ASSERT_TRUE(node);
    EXPECT_EQ(node->label, "IO-8 [ab-CD-EF-01-23-45] < Lab-7 >");
    EXPECT_EQ(node->version, "2.10");
    EXPECT_EQ(MakeLabel(*node), "IO-8 [ab-CD-EF-01-23-45] < Lab-7 >  at 192.168.2.5 ver 2.10");
}

TEST(DeviceListTest, ThirteenCharacterIdentificationTakesTheFourteenth) {
    Bytes reply = Reply({1, 2, 3, 4, 5, 6}, 0, "VEXA-IO", "1.06", "ABCDEFGHIJKLM");
    reply[64] = '!';
    EXPECT_EQ(DeviceFromReply(reply)->label, "VEXA-IO [01-02-03-04-05-06] < ABCDEFGHIJKLM! >");
    EXPECT_EQ(MakeLabel(*DeviceFromReply(reply)),
              "VEXA-IO [01-02-03-04-05-06] < ABCDEFGHIJKLM! >  at 0.0.0.0 ver 1.06");
}

TEST(DeviceListTest, OnlyWholeRepliesMakeNodes) {
    const Bytes reply = Reply({1, 2, 3, 4, 5, 6}, 0x0A000001);
    EXPECT_TRUE(DeviceFromReply(std::span(reply).first(65)));
    EXPECT_FALSE(DeviceFromReply(std::span(reply).first(64)))
        << "shorter than the bytes a reader needs";
    Bytes request = reply;
    request[2] = 0x10;
    request[3] = 0x01;
    EXPECT_FALSE(DeviceFromReply(request)) << "a read request is no reply";
}

} // namespace
} // namespace ostrel
