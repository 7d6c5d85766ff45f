#pragma once

#include "sim/FaultInjector.h"
#include "sim/ModuleIdentity.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ostrel::sim {

struct SimOptions {
    std::string address = "127.0.0.1";
    std::uint16_t port = 6234; // 0: the system picks one
    ModuleIdentity identity;
    bool ipGiven = false; // otherwise the bound address is reported
    bool bootloader = false;
    FaultSettings faults;
    std::chrono::milliseconds latency{0};
    std::chrono::milliseconds jitter{0};
    unsigned powerLossAfter = 0; // 0: never
    std::chrono::milliseconds powerOff{2000};
    bool duplicate = false;
    bool badVerify = false;
    bool shortReply = false;
    bool ignoreWrites = false;      // a write request changes nothing
    bool noAppAfterRun = false;     // after Run the application never answers
    unsigned loseErases = 0;        // the first N Erase frames are lost
    unsigned modules = 1;           // simulated on consecutive addresses
    std::optional<unsigned> faulty; // the first so many get the faults; all when not given
    bool stopWithParent = false;
    std::string logPath;
    std::string dumpPath;
};

enum class ParseStatus { Run, Help, Version, Error };

struct ParsedOptions {
    ParseStatus status = ParseStatus::Run;
    SimOptions options;
    std::string error;
};

// Parses the arguments after the program name. Every option taking a value accepts it as the
// next argument or after '='.
ParsedOptions ParseSimOptions(std::span<const std::string_view> args);

std::string SimHelpText();

} // namespace ostrel::sim
