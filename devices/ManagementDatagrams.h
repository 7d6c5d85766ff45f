#pragma once

#include "common/DeviceAddress.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace ostrel {

// The module's management protocol on UDP port 6234. Multi-byte fields run little-endian in a
// write and big-endian in a reply: both orders are what the modules speak, so each direction
// has its own encoder or decoder.
inline constexpr std::uint16_t managementPort = 6234;
inline constexpr std::size_t managementRequestSize = 73;
inline constexpr std::size_t moduleConfigSize = 68;
inline constexpr std::size_t identifyDatagramSize = 10;
// Readers look at reply bytes 0 to 64 and nothing beyond.
inline constexpr std::size_t replyBytesRead = 65;
inline constexpr std::size_t identificationLength = 13;
inline constexpr std::uint16_t dhcpOn = 17;

using ManagementRequest = std::array<std::uint8_t, managementRequestSize>;
using IdentifyDatagram = std::array<std::uint8_t, identifyDatagramSize>;

// The settings a write request carries.
struct ModuleConfig {
    Octets ipAddress{};
    Octets subnetMask{};
    bool dhcpEnabled = false;
    std::uint16_t usbPid = 0;
    std::uint16_t receptionPort = 0;
    std::array<std::uint8_t, identificationLength> identification{}; // padded by the caller
};

// What a reply tells about a module.
struct ManagementReply {
    bool magicValid = false;
    Octets ipAddress{};
    Octets subnetMask{};
    std::array<std::uint8_t, 6> macAddress{};
    std::array<std::uint8_t, identificationLength> identification{}; // as received, zeros kept
    std::uint8_t identificationExtra = 0;                            // reply byte 64
    std::uint16_t dhcpFlags = 0;
    std::string versionText;
    std::string moduleName;
    std::uint16_t usbPid = 0;
    std::uint16_t receptionPort = 0;

    bool DhcpEnabled() const { return (dhcpFlags & 0x11) != 0; }
    DeviceAddress Address() const;
    // The identification as the setup dialog shows it: 13 bytes, cut at the first zero.
    std::string SetupIdentification() const;
    // As discovery lists it: with byte 64 as a fourteenth character, cut at the first zero.
    std::string DiscoveryIdentification() const;
};

ManagementRequest BuildReadRequest();
ManagementRequest BuildWriteRequest(const ModuleConfig& config);
// Bytes the datagram does not hold read as zero.
ManagementReply ParseReply(std::span<const std::uint8_t> datagram);
IdentifyDatagram BuildIdentifyDatagram(bool on);

} // namespace ostrel
