#pragma once

#include <cstdint>
#include <string_view>

namespace ostrel {

// The bootloader's one-byte command codes; a reply carries the code of the command it answers.
enum class BootCommand : std::uint8_t {
    Query = 1,
    Erase = 2,
    Program = 3,
    Verify = 4,
    Run = 5,
};

// The command's name as messages and logs say it; "unknown" for a code that names none.
constexpr std::string_view BootCommandName(BootCommand command) {
    switch (command) {
    case BootCommand::Query:
        return "Query";
    case BootCommand::Erase:
        return "Erase";
    case BootCommand::Program:
        return "Program";
    case BootCommand::Verify:
        return "Verify";
    case BootCommand::Run:
        return "Run";
    }
    return "unknown";
}

// Frame control bytes: a frame runs from SOH to EOT, and DLE makes the next byte plain data.
inline constexpr std::uint8_t SOH = 0x01;
inline constexpr std::uint8_t EOT = 0x04;
inline constexpr std::uint8_t DLE = 0x10;

} // namespace ostrel
