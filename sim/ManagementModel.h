#pragma once

#include "sim/ModuleIdentity.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::sim {

enum class ManagementCommand {
    Read,
    Write,
    Ident,
    Unknown,       // management magic, opcode not understood
    NotManagement, // anything else
};

// "read", "write", "ident", "unknown", or "-" for a datagram that is no management datagram.
std::string_view ManagementCommandName(ManagementCommand command);

struct ManagementOutcome {
    ManagementCommand command = ManagementCommand::NotManagement;
    std::optional<std::vector<std::uint8_t>> reply;
    bool done = false;   // a write was stored or the indicator switched
    std::string details; // " key=value" pairs for the log
};

// The application firmware's side of the management datagrams.
class ManagementModel {
public:
    static constexpr std::size_t REQUEST_SIZE = 73;
    static constexpr std::size_t REPLY_SIZE = 73;
    static constexpr std::size_t IDENTIFY_SIZE = 10;

    explicit ManagementModel(const ModuleIdentity& initial) : identity(initial) {}

    static ManagementCommand Classify(std::span<const std::uint8_t> datagram);

    ManagementOutcome Execute(std::span<const std::uint8_t> datagram);
    std::vector<std::uint8_t> BuildReply() const;

    const ModuleIdentity& Identity() const { return identity; }
    bool IndicatorOn() const { return indicatorOn; }

private:
    ManagementOutcome StoreWrite(std::span<const std::uint8_t> datagram);
    ManagementOutcome SwitchIndicator(std::span<const std::uint8_t> datagram);

    ModuleIdentity identity;
    bool indicatorOn = false;
};

} // namespace ostrel::sim
