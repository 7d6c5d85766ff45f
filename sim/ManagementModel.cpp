#include "sim/ManagementModel.h"

#include <algorithm>
#include <cstdio>

namespace ostrel::sim {

namespace {

constexpr std::uint8_t OPCODE_READ = 'R';
constexpr std::uint8_t OPCODE_WRITE = 'W';
constexpr std::uint8_t OPCODE_IDENT = 'I';
constexpr std::array<std::uint8_t, 4> REQUEST_MAGIC{0xCA, 0xFE, 0x10, 0x01};
constexpr std::array<std::uint8_t, 4> REPLY_MAGIC{0xCA, 0xFE, 0x20, 0x03};
constexpr std::array<std::uint8_t, 4> CONFIG_MARKER{0xDE, 0xFE, 0x20, 0x16};
constexpr std::array<std::uint8_t, 5> IDENT_CODE{'5', '8', '2', '0', '3'};
constexpr std::uint32_t RECORD_LENGTH = 68;

// Datagram offsets of the settings record's fields (the record starts at 5 in both
// directions); the 16-bit fields differ in byte order between write and reply.
constexpr std::size_t OPCODE = 4;
constexpr std::size_t IDENT_STATE = 3;
constexpr std::size_t RECORD_LENGTH_AT = 5;
constexpr std::size_t IP_ADDRESS = 9;
constexpr std::size_t SUBNET_MASK = 13;
constexpr std::size_t MAC_ADDRESS = 17;
constexpr std::size_t IDENT_HEAD = 23;
constexpr std::size_t DHCP_FLAGS = 31;
constexpr std::size_t VERSION_TEXT = 33;
constexpr std::size_t MODULE_NAME = 41;
constexpr std::size_t USB_PID = 49;
constexpr std::size_t RECEPTION_PORT = 51;
constexpr std::size_t MARKER = 55;
constexpr std::size_t IDENT_TAIL = 59;
constexpr std::size_t IDENT_EXTRA = 64;
constexpr std::size_t IDENT_HEAD_SIZE = 8;
constexpr std::size_t IDENT_WRITTEN = 13;

bool StartsWith(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> prefix) {
    return bytes.size() >= prefix.size() && std::ranges::equal(bytes.first(prefix.size()), prefix);
}

std::uint16_t LittleEndian16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

void PutBigEndian16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(value & 0xFF);
}

template <std::size_t N>
void Put(std::span<std::uint8_t> bytes, std::size_t at, const std::array<std::uint8_t, N>& from) {
    std::ranges::copy(from, bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

std::string Dotted(const std::array<std::uint8_t, 4>& octets) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned{octets[0]}, unsigned{octets[1]},
                  unsigned{octets[2]}, unsigned{octets[3]});
    return text;
}

// Quoted for the log, cut at the first NUL, unprintable bytes as \xNN.
std::string QuotedText(std::span<const std::uint8_t> text) {
    std::string quoted = "\"";
    for (const std::uint8_t c : text) {
        if (c == 0) {
            break;
        }
        if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned{c});
            quoted += escaped;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

} // namespace

std::string_view ManagementCommandName(ManagementCommand command) {
    switch (command) {
    case ManagementCommand::Read:
        return "read";
    case ManagementCommand::Write:
        return "write";
    case ManagementCommand::Ident:
        return "ident";
    case ManagementCommand::Unknown:
        return "unknown";
    case ManagementCommand::NotManagement:
        break;
    }
    return "-";
}

ManagementCommand ManagementModel::Classify(std::span<const std::uint8_t> datagram) {
    // Three bytes of magic are shared; the fourth is the identify state in an identify datagram.
    if (!StartsWith(datagram, std::span(REQUEST_MAGIC).first(3)) || datagram.size() <= OPCODE) {
        return ManagementCommand::NotManagement;
    }
    const std::uint8_t opcode = datagram[OPCODE];
    if (opcode == OPCODE_IDENT) {
        return ManagementCommand::Ident;
    }
    if (datagram[3] != REQUEST_MAGIC[3]) {
        return ManagementCommand::NotManagement;
    }
    if (opcode == OPCODE_READ) {
        return ManagementCommand::Read;
    }
    if (opcode == OPCODE_WRITE) {
        return ManagementCommand::Write;
    }
    return ManagementCommand::Unknown;
}

ManagementOutcome ManagementModel::Execute(std::span<const std::uint8_t> datagram) {
    const ManagementCommand command = Classify(datagram);
    switch (command) {
    case ManagementCommand::Read:
        return {command, BuildReply(), false, {}};
    case ManagementCommand::Write:
        return StoreWrite(datagram);
    case ManagementCommand::Ident:
        return SwitchIndicator(datagram);
    case ManagementCommand::Unknown: {
        char details[32];
        std::snprintf(details, sizeof details, " opcode=0x%02X", unsigned{datagram[OPCODE]});
        return {command, std::nullopt, false, details};
    }
    case ManagementCommand::NotManagement:
        break;
    }
    return {command, std::nullopt, false, {}};
}

std::vector<std::uint8_t> ManagementModel::BuildReply() const {
    std::vector<std::uint8_t> reply(REPLY_SIZE, 0);
    const std::span bytes(reply);
    Put(bytes, 0, REPLY_MAGIC);
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[RECORD_LENGTH_AT + i] = static_cast<std::uint8_t>(RECORD_LENGTH >> (8 * i));
    }
    Put(bytes, IP_ADDRESS, identity.ipAddress);
    Put(bytes, SUBNET_MASK, identity.subnetMask);
    Put(bytes, MAC_ADDRESS, identity.macAddress);
    std::copy_n(identity.ident.begin(), IDENT_HEAD_SIZE, bytes.begin() + IDENT_HEAD);
    PutBigEndian16(bytes, DHCP_FLAGS, identity.dhcpFlags);
    Put(bytes, VERSION_TEXT, identity.versionText);
    Put(bytes, MODULE_NAME, identity.moduleName);
    PutBigEndian16(bytes, USB_PID, identity.usbPid);
    PutBigEndian16(bytes, RECEPTION_PORT, identity.receptionPort);
    Put(bytes, MARKER, CONFIG_MARKER);
    std::copy(identity.ident.begin() + IDENT_HEAD_SIZE, identity.ident.begin() + IDENT_WRITTEN,
              bytes.begin() + IDENT_TAIL);
    bytes[IDENT_EXTRA] = identity.ident[IDENT_WRITTEN];
    return reply;
}

ManagementOutcome ManagementModel::StoreWrite(std::span<const std::uint8_t> datagram) {
    if (datagram.size() < REQUEST_SIZE) {
        return {ManagementCommand::Write, std::nullopt, false, " reason=short"};
    }
    std::copy_n(datagram.begin() + IP_ADDRESS, 4, identity.ipAddress.begin());
    std::copy_n(datagram.begin() + SUBNET_MASK, 4, identity.subnetMask.begin());
    identity.dhcpFlags = LittleEndian16(datagram, DHCP_FLAGS);
    identity.usbPid = LittleEndian16(datagram, USB_PID);
    identity.receptionPort = LittleEndian16(datagram, RECEPTION_PORT);
    std::copy_n(datagram.begin() + IDENT_HEAD, IDENT_HEAD_SIZE, identity.ident.begin());
    std::copy_n(datagram.begin() + IDENT_TAIL, IDENT_WRITTEN - IDENT_HEAD_SIZE,
                identity.ident.begin() + IDENT_HEAD_SIZE);
    // A write carries thirteen characters: a fourteenth from before would no longer belong.
    identity.ident[IDENT_WRITTEN] = 0;

    char numbers[64];
    std::snprintf(numbers, sizeof numbers, " dhcp=%u pid=0x%04X port=%u",
                  unsigned{identity.dhcpFlags}, unsigned{identity.usbPid},
                  unsigned{identity.receptionPort});
    return {ManagementCommand::Write, std::nullopt, true,
            " ip=" + Dotted(identity.ipAddress) + " mask=" + Dotted(identity.subnetMask) + numbers +
                " ident=" + QuotedText(std::span(identity.ident).first(IDENT_WRITTEN))};
}

ManagementOutcome ManagementModel::SwitchIndicator(std::span<const std::uint8_t> datagram) {
    if (datagram.size() < IDENTIFY_SIZE ||
        !std::ranges::equal(datagram.subspan(OPCODE + 1, IDENT_CODE.size()), IDENT_CODE)) {
        return {ManagementCommand::Ident, std::nullopt, false, " reason=code"};
    }
    const std::uint8_t state = datagram[IDENT_STATE];
    if (state > 1) {
        return {ManagementCommand::Ident, std::nullopt, false,
                " reason=state state=" + std::to_string(state)};
    }
    indicatorOn = state == 1;
    return {ManagementCommand::Ident, std::nullopt, true, " state=" + std::to_string(state)};
}

} // namespace ostrel::sim
