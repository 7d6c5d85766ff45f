#include "net/PcapngBlocks.h"

namespace ostrel::pcapng {

namespace {

constexpr std::uint32_t sectionHeaderType = 0x0A0D0D0A;
constexpr std::uint32_t interfaceDescriptionType = 1;
constexpr std::uint32_t enhancedPacketType = 6;
constexpr std::uint16_t linkTypeIpv4 = 228;
constexpr std::uint16_t optionEnd = 0;
constexpr std::uint16_t optionComment = 1;
constexpr std::uint16_t optionApplication = 4; // shb_userappl
constexpr std::uint16_t optionInterfaceName = 2;
constexpr std::uint16_t optionTimestampResolution = 9;
constexpr std::uint16_t optionPacketFlags = 2; // epb_flags
constexpr std::size_t ipv4HeaderLength = 20;
constexpr std::size_t udpHeaderLength = 8;

// A block under construction: its body is appended, then Finish puts the lengths around it.
class Block {
public:
    explicit Block(std::uint32_t type) {
        U32(type);
        U32(0); // the total length, once known
    }
    void U16(std::uint16_t value) {
        bytes.push_back(static_cast<std::uint8_t>(value));
        bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    void U32(std::uint32_t value) {
        U16(static_cast<std::uint16_t>(value));
        U16(static_cast<std::uint16_t>(value >> 16));
    }
    void Bytes(std::span<const std::uint8_t> data) {
        bytes.insert(bytes.end(), data.begin(), data.end());
        Pad();
    }
    void Text(std::string_view text) {
        bytes.insert(bytes.end(), text.begin(), text.end());
        Pad();
    }
    void Option(std::uint16_t code, std::string_view value) {
        U16(code);
        U16(static_cast<std::uint16_t>(value.size()));
        Text(value);
    }
    void Option(std::uint16_t code, std::span<const std::uint8_t> value) {
        U16(code);
        U16(static_cast<std::uint16_t>(value.size()));
        Bytes(value);
    }
    void EndOptions() {
        U16(optionEnd);
        U16(0);
    }
    std::size_t Size() const { return bytes.size(); }
    std::vector<std::uint8_t> Finish() {
        const auto total = static_cast<std::uint32_t>(bytes.size() + 4);
        U32(total);
        for (int i = 0; i < 4; ++i) {
            bytes[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(total >> (8 * i));
        }
        return std::move(bytes);
    }

private:
    void Pad() {
        while (bytes.size() % 4 != 0) {
            bytes.push_back(0);
        }
    }
    std::vector<std::uint8_t> bytes;
};

void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    out[at] = static_cast<std::uint8_t>(value >> 8);
    out[at + 1] = static_cast<std::uint8_t>(value);
}

void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    Put16(out, at, value >> 16);
    Put16(out, at + 2, value);
}

// The one's complement sum of 16-bit words, as the Internet checksum adds them.
std::uint32_t WordSum(std::span<const std::uint8_t> bytes, std::uint32_t sum = 0) {
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        sum +=
            static_cast<std::uint32_t>(bytes[i] << 8) + (i + 1 < bytes.size() ? bytes[i + 1] : 0u);
    }
    return sum;
}

std::uint16_t Folded(std::uint32_t sum) {
    while (sum >> 16 != 0) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

} // namespace

std::vector<std::uint8_t> CommentSlot(std::string_view comment) {
    std::vector<std::uint8_t> slot(commentWidth, ' ');
    for (std::size_t i = 0; i < comment.size() && i < commentWidth; ++i) {
        slot[i] = static_cast<std::uint8_t>(comment[i]);
    }
    return slot;
}

std::vector<std::uint8_t> SectionHeader(std::string_view application, std::string_view comment) {
    Block block(sectionHeaderType);
    block.U32(0x1A2B3C4D); // byte order
    block.U16(1);          // version 1.0
    block.U16(0);
    block.U32(0xFFFFFFFF); // section length: not given
    block.U32(0xFFFFFFFF);
    block.Option(optionApplication, application);
    block.Option(optionComment, CommentSlot(comment));
    block.EndOptions();
    return block.Finish();
}

std::size_t SectionCommentOffset(std::string_view application) {
    const std::size_t padded = (application.size() + 3) / 4 * 4;
    return 8 + 16 + 4 + padded + 4;
}

std::vector<std::uint8_t> InterfaceDescription(std::string_view name) {
    Block block(interfaceDescriptionType);
    block.U16(linkTypeIpv4);
    block.U16(0);
    block.U32(0); // no snapshot limit
    block.Option(optionInterfaceName, name);
    const std::uint8_t nanoseconds = 9;
    block.Option(optionTimestampResolution, std::span(&nanoseconds, 1));
    block.EndOptions();
    return block.Finish();
}

std::vector<std::uint8_t> Ipv4Packet(const UdpDatagram& datagram, std::uint16_t id) {
    const std::size_t udpLength = udpHeaderLength + datagram.length;
    std::vector<std::uint8_t> packet(ipv4HeaderLength + udpHeaderLength + datagram.payload.size());
    packet[0] = 0x45; // version 4, five words of header
    Put16(packet, 2, static_cast<std::uint32_t>(ipv4HeaderLength + udpLength));
    Put16(packet, 4, id);
    packet[8] = 64; // time to live
    packet[9] = 17; // UDP
    Put32(packet, 12, datagram.source);
    Put32(packet, 16, datagram.destination);
    Put16(packet, 10, Folded(WordSum(std::span(packet).first(ipv4HeaderLength))));
    Put16(packet, 20, datagram.sourcePort);
    Put16(packet, 22, datagram.destinationPort);
    Put16(packet, 24, static_cast<std::uint32_t>(udpLength));
    for (std::size_t i = 0; i < datagram.payload.size(); ++i) {
        packet[ipv4HeaderLength + udpHeaderLength + i] = datagram.payload[i];
    }
    if (datagram.payload.size() == datagram.length) {
        // The pseudo-header: addresses, protocol and length, then the header and payload.
        std::uint32_t sum = WordSum(std::span(packet).subspan(12, 8));
        sum += 17 + static_cast<std::uint32_t>(udpLength);
        const std::uint16_t checksum = Folded(WordSum(std::span(packet).subspan(20), sum));
        Put16(packet, 26, checksum == 0 ? 0xFFFF : checksum);
    }
    return packet;
}

std::vector<std::uint8_t> EnhancedPacket(std::uint32_t interfaceId, std::uint64_t nanoseconds,
                                         std::span<const std::uint8_t> packet,
                                         std::size_t originalLength, Direction direction) {
    Block block(enhancedPacketType);
    block.U32(interfaceId);
    block.U32(static_cast<std::uint32_t>(nanoseconds >> 32));
    block.U32(static_cast<std::uint32_t>(nanoseconds));
    block.U32(static_cast<std::uint32_t>(packet.size()));
    block.U32(static_cast<std::uint32_t>(originalLength));
    block.Bytes(packet);
    block.U16(optionPacketFlags);
    block.U16(4);
    block.U32(static_cast<std::uint32_t>(direction));
    block.EndOptions();
    return block.Finish();
}

} // namespace ostrel::pcapng
