#include "devices/DeviceList.h"

#include "devices/ManagementDatagrams.h"

#include <algorithm>
#include <cstdio>

namespace ostrel {

namespace {

constexpr std::size_t recordOffset = 5; // where the settings record starts in a reply
constexpr std::size_t recordIpAddress = 4;
constexpr std::size_t recordMac = 12;

} // namespace

DeviceAddress DeviceNode::Address() const {
    return FromOctets({record[recordIpAddress], record[recordIpAddress + 1],
                       record[recordIpAddress + 2], record[recordIpAddress + 3]});
}

int CompareMac(const MacAddress& a, const MacAddress& b) {
    const auto [left, right] = std::mismatch(a.begin(), a.end(), b.begin());
    if (left == a.end()) {
        return 0;
    }
    return *left < *right ? -1 : 1;
}

std::string DeviceLabel(const ManagementReply& reply) {
    const MacAddress& mac = reply.macAddress;
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%s [%02x-%02X-%02X-%02X-%02X-%02X] < ",
                  reply.moduleName.c_str(), mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text.data() + reply.DiscoveryIdentification() + " >";
}

std::string MakeLabel(const DeviceNode& node) {
    const DeviceAddress address = node.Address();
    return node.label + "  at " + FormatDottedQuad(address) + " ver " + node.version;
}

std::optional<DeviceNode> DeviceFromReply(std::span<const std::uint8_t> datagram) {
    // A shorter datagram would leave fields the label reads undefined.
    if (datagram.size() < replyBytesRead) {
        return std::nullopt;
    }
    const ManagementReply reply = ParseReply(datagram);
    if (!reply.magicValid) {
        return std::nullopt;
    }
    DeviceNode node;
    std::copy_n(datagram.begin() + recordOffset, node.record.size(), node.record.begin());
    std::copy_n(node.record.begin() + recordMac, node.mac.size(), node.mac.begin());
    node.label = DeviceLabel(reply);
    node.version = reply.versionText;
    return node;
}

DeviceList::Insertion DeviceList::InsertDevice(const DeviceNode& node) {
    if (nodes.empty()) {
        nodes.push_back(node);
        return Insertion::First;
    }
    // Pass every node whose MAC is greater; stop at the first that is not.
    const auto at = std::find_if(nodes.begin(), nodes.end(), [&](const DeviceNode& listed) {
        return CompareMac(listed.mac, node.mac) <= 0;
    });
    if (at != nodes.end() && CompareMac(at->mac, node.mac) == 0) {
        return Insertion::Duplicate;
    }
    nodes.insert(at, node);
    return Insertion::Added;
}

} // namespace ostrel
