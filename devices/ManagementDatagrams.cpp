#include "devices/ManagementDatagrams.h"

#include <algorithm>

namespace ostrel {

namespace {

constexpr std::array<std::uint8_t, 4> requestMagic = {0xCA, 0xFE, 0x10, 0x01};
constexpr std::array<std::uint8_t, 4> replyMagic = {0xCA, 0xFE, 0x20, 0x03};
constexpr std::array<std::uint8_t, 4> configMarker = {0xDE, 0xFE, 0x20, 0x16};
constexpr std::array<std::uint8_t, 5> identifyCode = {'5', '8', '2', '0', '3'};
constexpr std::uint8_t readOpcode = 'R';
constexpr std::uint8_t writeOpcode = 'W';
constexpr std::uint8_t identifyOpcode = 'I';

// Offsets in a request: the record follows the magic and the opcode.
constexpr std::size_t requestRecord = 5;
// Offsets in a reply.
constexpr std::size_t replyIpAddress = 9;
constexpr std::size_t replySubnetMask = 13;
constexpr std::size_t replyMac = 17;
constexpr std::size_t replyIdentHead = 23;
constexpr std::size_t replyDhcpFlags = 31;
constexpr std::size_t replyVersion = 33;
constexpr std::size_t replyName = 41;
constexpr std::size_t replyUsbPid = 49;
constexpr std::size_t replyPort = 51;
constexpr std::size_t replyIdentTail = 59;
constexpr std::size_t replyIdentExtra = 64;
constexpr std::size_t identHeadLength = 8;

void PutLittleEndian16(std::uint8_t* out, std::uint16_t value) {
    out[0] = static_cast<std::uint8_t>(value & 0xFF);
    out[1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint16_t GetBigEndian16(const std::uint8_t* in) {
    return static_cast<std::uint16_t>(in[0] << 8 | in[1]);
}

// A text field of a reply: at most its width, cut at the first zero byte.
std::string TextField(const std::uint8_t* in, std::size_t width) {
    const auto end = std::find(in, in + width, std::uint8_t{0});
    return {in, end};
}

} // namespace

DeviceAddress ManagementReply::Address() const {
    return FromOctets(ipAddress);
}

std::string ManagementReply::SetupIdentification() const {
    return TextField(identification.data(), identification.size());
}

std::string ManagementReply::DiscoveryIdentification() const {
    std::array<std::uint8_t, identificationLength + 1> text{};
    std::copy(identification.begin(), identification.end(), text.begin());
    text.back() = identificationExtra;
    return TextField(text.data(), text.size());
}

ManagementRequest BuildReadRequest() {
    ManagementRequest request{};
    std::copy(requestMagic.begin(), requestMagic.end(), request.begin());
    request[4] = readOpcode;
    return request;
}

ManagementRequest BuildWriteRequest(const ModuleConfig& config) {
    ManagementRequest request{};
    std::copy(requestMagic.begin(), requestMagic.end(), request.begin());
    request[4] = writeOpcode;
    std::uint8_t* record = request.data() + requestRecord;
    record[0] = static_cast<std::uint8_t>(moduleConfigSize); // 68, little-endian in 4 bytes
    std::copy(config.ipAddress.begin(), config.ipAddress.end(), record + 4);
    std::copy(config.subnetMask.begin(), config.subnetMask.end(), record + 8);
    std::copy_n(config.identification.begin(), identHeadLength, record + 18);
    PutLittleEndian16(record + 26, config.dhcpEnabled ? dhcpOn : 0);
    PutLittleEndian16(record + 44, config.usbPid);
    PutLittleEndian16(record + 46, config.receptionPort);
    std::copy(configMarker.begin(), configMarker.end(), record + 50);
    std::copy(config.identification.begin() + identHeadLength, config.identification.end(),
              record + 54);
    return request;
}

ManagementReply ParseReply(std::span<const std::uint8_t> datagram) {
    std::array<std::uint8_t, replyBytesRead> bytes{};
    std::copy_n(datagram.begin(), std::min(datagram.size(), bytes.size()), bytes.begin());
    const std::uint8_t* in = bytes.data();

    ManagementReply reply;
    reply.magicValid = datagram.size() >= replyMagic.size() &&
                       std::equal(replyMagic.begin(), replyMagic.end(), in);
    std::copy_n(in + replyIpAddress, 4, reply.ipAddress.begin());
    std::copy_n(in + replySubnetMask, 4, reply.subnetMask.begin());
    std::copy_n(in + replyMac, 6, reply.macAddress.begin());
    std::copy_n(in + replyIdentHead, identHeadLength, reply.identification.begin());
    std::copy_n(in + replyIdentTail, identificationLength - identHeadLength,
                reply.identification.begin() + identHeadLength);
    reply.identificationExtra = in[replyIdentExtra];
    reply.dhcpFlags = GetBigEndian16(in + replyDhcpFlags);
    reply.versionText = TextField(in + replyVersion, 8);
    reply.moduleName = TextField(in + replyName, 8);
    reply.usbPid = GetBigEndian16(in + replyUsbPid);
    reply.receptionPort = GetBigEndian16(in + replyPort);
    return reply;
}

IdentifyDatagram BuildIdentifyDatagram(bool on) {
    IdentifyDatagram datagram{0xCA, 0xFE, 0x10, static_cast<std::uint8_t>(on ? 1 : 0),
                              identifyOpcode};
    std::copy(identifyCode.begin(), identifyCode.end(), datagram.begin() + 5);
    return datagram;
}

} // namespace ostrel
