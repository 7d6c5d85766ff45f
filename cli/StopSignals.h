#pragma once

#include "common/UniqueFd.h"

namespace ostrel::cli {

// Ctrl-C and SIGTERM as a descriptor to wait on: the signals are blocked in the whole process
// (made before any thread, so every thread inherits the mask) and read from a signalfd, so no
// handler and no global flag are needed.
class StopSignals {
public:
    StopSignals();
    int Fd() const { return fd.Get(); }
    // True once a stop was asked for; reading consumes nothing.
    bool Pending() const;

private:
    UniqueFd fd;
};

} // namespace ostrel::cli
