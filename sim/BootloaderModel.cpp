#include "sim/BootloaderModel.h"

#include <algorithm>
#include <cstdio>

namespace ostrel::sim {

namespace {

std::uint32_t LittleEndian32(std::span<const std::uint8_t> bytes) {
    return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
           (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
}

std::vector<std::uint8_t> Reply(BootCommand command) {
    return {static_cast<std::uint8_t>(command)};
}

} // namespace

std::string_view BootCommandName(std::uint8_t code) {
    switch (code) {
    case static_cast<std::uint8_t>(BootCommand::Query):
        return "Query";
    case static_cast<std::uint8_t>(BootCommand::Erase):
        return "Erase";
    case static_cast<std::uint8_t>(BootCommand::Program):
        return "Program";
    case static_cast<std::uint8_t>(BootCommand::Verify):
        return "Verify";
    case static_cast<std::uint8_t>(BootCommand::Run):
        return "Run";
    default:
        return "unknown";
    }
}

BootOutcome BootloaderModel::Execute(std::span<const std::uint8_t> payload) {
    if (payload.empty()) {
        return {"unknown", std::nullopt, false, " reason=empty"};
    }
    const std::uint8_t code = payload[0];
    switch (code) {
    case static_cast<std::uint8_t>(BootCommand::Query):
        return {BootCommandName(code),
                std::vector<std::uint8_t>{code, VERSION_MAJOR, VERSION_MINOR},
                false,
                {}};
    case static_cast<std::uint8_t>(BootCommand::Erase):
        flash.Erase();
        records.SetBase(0);
        lastProgram.clear();
        return {BootCommandName(code), Reply(BootCommand::Erase), false, {}};
    case static_cast<std::uint8_t>(BootCommand::Program):
        return Program(payload);
    case static_cast<std::uint8_t>(BootCommand::Verify):
        return Verify(payload);
    case static_cast<std::uint8_t>(BootCommand::Run):
        return {BootCommandName(code), std::nullopt, true, {}};
    default:
        return {BootCommandName(code), std::nullopt, false, " code=" + std::to_string(code)};
    }
}

void BootloaderModel::PowerCycle() {
    records.SetBase(0);
    lastProgram.clear();
}

BootOutcome BootloaderModel::Program(std::span<const std::uint8_t> payload) {
    const bool resent = std::ranges::equal(payload, lastProgram);
    if (resent) {
        records.SetBase(lastProgramBase);
    } else {
        lastProgram.assign(payload.begin(), payload.end());
        lastProgramBase = records.Base();
    }
    const auto result = records.Apply(payload.subspan(1), flash);

    std::string details = " records=" + std::to_string(result.records) +
                          " stored=" + std::to_string(result.storedBytes);
    if (resent) {
        details += " resent=1";
    }
    if (result.truncated) {
        details += " truncated=1";
    }
    return {BootCommandName(payload[0]), Reply(BootCommand::Program), false, details};
}

BootOutcome BootloaderModel::Verify(std::span<const std::uint8_t> payload) const {
    // Start and length; the host's own CRC that follows them is not needed here.
    if (payload.size() < 9) {
        return {BootCommandName(payload[0]), std::nullopt, false, " reason=short"};
    }
    const std::uint32_t start = LittleEndian32(payload.subspan(1, 4));
    const std::uint32_t length = LittleEndian32(payload.subspan(5, 4));
    const std::uint16_t crc = flash.Crc(start, length);

    char details[64];
    std::snprintf(details, sizeof details, " start=0x%08X length=0x%08X crc=0x%04X",
                  static_cast<unsigned>(start), static_cast<unsigned>(length),
                  static_cast<unsigned>(crc));
    return {BootCommandName(payload[0]),
            std::vector<std::uint8_t>{static_cast<std::uint8_t>(BootCommand::Verify),
                                      static_cast<std::uint8_t>(crc & 0xFF),
                                      static_cast<std::uint8_t>(crc >> 8)},
            false, details};
}

} // namespace ostrel::sim
