#pragma once

#include <chrono>
#include <cstdint>

namespace ostrel {

// What an update does once the bootloader is awake.
enum class UpdateMode {
    Program,           // erase, program, verify, start: the window's update
    ProgramUnlessSame, // first ask the module's CRC of the image range; if it matches, only start
    VerifyOnly,        // ask the CRC, compare, start; nothing is erased or written
};

struct Attempts {
    std::uint16_t count;
    std::chrono::milliseconds timeout;
};

// Attempts and time-outs of the three commands that wait for an answer; the defaults are the
// window's, which the module relies on.
struct UpdateTiming {
    Attempts erase{3, std::chrono::milliseconds(5000)};
    Attempts program{3, std::chrono::milliseconds(500)};
    Attempts verify{3, std::chrono::milliseconds(7000)};

    // The same commands with other attempt counts (0 keeps them) and every time-out stretched.
    UpdateTiming Adjusted(std::uint16_t attempts, double timeoutScale) const;
};

struct UpdateOptions {
    UpdateMode mode = UpdateMode::Program;
    UpdateTiming timing;
};

// Why an update did not succeed.
enum class UpdateFailure {
    None,
    HexFileUnreadable,
    PortUnavailable,
    NothingToProgram,
    NoAnswer, // the command that got none is TimedOutCommand()
    CrcMismatch,
    Cancelled,
};

} // namespace ostrel
