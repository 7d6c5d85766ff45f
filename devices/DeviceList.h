#pragma once

#include "common/DeviceAddress.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ostrel {

struct ManagementReply;

using MacAddress = std::array<std::uint8_t, 6>;
// Reply bytes 5 to 54: the first 50 bytes of the module's settings record.
using DeviceRecord = std::array<std::uint8_t, 50>;

// One module that answered a discovery request.
struct DeviceNode {
    MacAddress mac{};
    std::string label;
    std::string version;
    DeviceRecord record{};

    DeviceAddress Address() const; // the module's own address, record bytes 4 to 7
};

// Orders MAC addresses as unsigned bytes, the first most significant: <0, 0 or >0.
int CompareMac(const MacAddress& a, const MacAddress& b);

// "name [ma-C0-AD-DR-E5-55] < identification >": the first MAC byte in lower case.
std::string DeviceLabel(const ManagementReply& reply);
// The text of a module's tree item: "label  at a.b.c.d ver version".
std::string MakeLabel(const DeviceNode& node);
// The node a reply describes; nothing for a datagram that is no reply or too short to be one.
std::optional<DeviceNode> DeviceFromReply(std::span<const std::uint8_t> datagram);

// The modules of one scan, in descending MAC order, each MAC once.
class DeviceList {
public:
    enum class Insertion {
        First,     // the list was empty
        Added,     // a module not listed before
        Duplicate, // its MAC is listed already: dropped
    };

    Insertion InsertDevice(const DeviceNode& node);
    void Clear() { nodes.clear(); }
    const std::vector<DeviceNode>& Nodes() const { return nodes; }

private:
    std::vector<DeviceNode> nodes;
};

} // namespace ostrel
