#pragma once

#include "sim/FlashMemory.h"
#include "sim/RecordInterpreter.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::sim {

enum class BootCommand : std::uint8_t {
    Query = 1,
    Erase = 2,
    Program = 3,
    Verify = 4,
    Run = 5,
};

// "Query" ... "Run", or "unknown" for any other code.
std::string_view BootCommandName(std::uint8_t code);

struct BootOutcome {
    std::string_view command;                       // as BootCommandName
    std::optional<std::vector<std::uint8_t>> reply; // reply payload, to be framed
    bool run = false;                               // leave the bootloader for the application
    std::string details;                            // " key=value" pairs for the log
};

// The bootloader's command set, executed on the payloads of good frames.
class BootloaderModel {
public:
    // Reported by Query after its command byte.
    static constexpr std::uint8_t VERSION_MAJOR = 1;
    static constexpr std::uint8_t VERSION_MINOR = 6;

    BootOutcome Execute(std::span<const std::uint8_t> payload);

    // The power went and came back: the bootloader starts afresh, the flash keeps what it held.
    void PowerCycle();

    const FlashMemory& Flash() const { return flash; }

private:
    BootOutcome Program(std::span<const std::uint8_t> payload);
    BootOutcome Verify(std::span<const std::uint8_t> payload) const;

    FlashMemory flash;
    RecordInterpreter records;
    // The last Program payload and the address base it started from: a resent copy must land
    // where the first one did, even when it moved the base on the way.
    std::vector<std::uint8_t> lastProgram;
    std::uint32_t lastProgramBase = 0;
};

} // namespace ostrel::sim
