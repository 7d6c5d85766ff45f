#pragma once

#include "sim/BootloaderModel.h"
#include "sim/CommandDeframer.h"
#include "sim/FaultInjector.h"
#include "sim/SimLog.h"
#include "sim/SimOptions.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace ostrel::sim {

struct BootStep {
    std::vector<std::uint8_t> reply; // the framed reply; empty when none goes out
    bool run = false;                // Run: the application starts
    bool powerLoss = false;          // the module loses power before it answers
};

// The datagrams the module receives while in its bootloader: deframes them, injects the faults
// that belong to bootloader commands and executes the good frames, filling in each datagram's
// log entry. What the module does around that (the dump on Run, the power coming back, the
// sending) is the caller's.
class BootloaderHandler {
public:
    explicit BootloaderHandler(const SimOptions& options);

    BootStep Handle(std::span<const std::uint8_t> datagram, FaultInjector& faults, LogEntry& entry);
    // The bootloader is entered afresh: a frame begun before is forgotten.
    void Restart() { deframer.Reset(); }
    // The power has come back: the flash keeps what it held.
    void PowerCycle();

    const FlashMemory& Flash() const { return bootloader.Flash(); }

private:
    // Why a good frame with this command code is lost, if it is.
    std::optional<std::string_view> CommandFault(std::uint8_t code, FaultInjector& faults);
    BootStep Execute(std::span<const std::uint8_t> payload, LogEntry& entry);

    unsigned loseErases;
    unsigned powerLossAfter;
    bool badVerify;
    CommandDeframer deframer;
    BootloaderModel bootloader;
    unsigned erasesLost = 0;
    unsigned programsExecuted = 0;
};

} // namespace ostrel::sim
