#pragma once

namespace ostrel {

// How a module's update, and a whole run, ended: the console's exit codes, which the README
// lists. No failure is ever 0.
enum class ExitCode : int {
    Done = 0,            // also "unchanged"
    Failed = 1,          // anything not below
    Usage = 2,           // bad arguments
    BadFile = 3,         // the HEX file cannot be read, or holds nothing to program or verify
    NoAnswer = 4,        // the wake, Erase, Program, Verify or a read timed out
    CrcMismatch = 5,     // the module's CRC differs from the image's
    NotConfirmed = 6,    // the flash verified, but the application did not answer after Run
    ReadBackDiffers = 7, // settings written, but the read-back differs
    SomeFailed = 8,      // a fleet in which some modules failed
    Interrupted = 130,   // Ctrl-C or SIGTERM
};

constexpr int ToInt(ExitCode code) {
    return static_cast<int>(code);
}

} // namespace ostrel
