#pragma once

#include "common/DeviceAddress.h"

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace ostrel::pcapng {

// The blocks of a pcapng file (little-endian, as this machine writes them), each complete with
// its two length fields, and the IPv4 and UDP headers that make a datagram a packet any reader
// shows as UDP.

enum class Direction : std::uint32_t { Inbound = 1, Outbound = 2 };

// The section header. The comment is a fixed slot of commentWidth bytes, padded with blanks,
// so that it can be rewritten in place later (a trace cut short says so there) without the
// file growing.
constexpr std::size_t commentWidth = 64;
std::vector<std::uint8_t> SectionHeader(std::string_view application, std::string_view comment);
// Where the comment slot sits in the section header, from the start of the file.
std::size_t SectionCommentOffset(std::string_view application);
// The comment as it stands in its slot: cut to commentWidth and padded with blanks.
std::vector<std::uint8_t> CommentSlot(std::string_view comment);

// An interface of raw IPv4 packets with nanosecond stamps.
std::vector<std::uint8_t> InterfaceDescription(std::string_view name);

struct UdpDatagram {
    DeviceAddress source = 0;
    std::uint16_t sourcePort = 0;
    DeviceAddress destination = 0;
    std::uint16_t destinationPort = 0;
    std::span<const std::uint8_t> payload; // as much as was captured
    std::size_t length = 0;                // the datagram's own length (more when cut)
};
// The IPv4 and UDP headers and the captured payload, with both checksums when the whole
// payload is there (the UDP checksum 0, "none", when it is not).
std::vector<std::uint8_t> Ipv4Packet(const UdpDatagram& datagram, std::uint16_t id);

std::vector<std::uint8_t> EnhancedPacket(std::uint32_t interfaceId, std::uint64_t nanoseconds,
                                         std::span<const std::uint8_t> packet,
                                         std::size_t originalLength, Direction direction);

} // namespace ostrel::pcapng
