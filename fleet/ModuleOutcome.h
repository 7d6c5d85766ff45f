#pragma once

#include "common/DeviceAddress.h"
#include "fleet/ExitCode.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// A module an update is for, as the output names it.
struct ModuleTarget {
    DeviceAddress address = 0;
    std::string name;          // its address as text
    std::string mac;           // when discovery or a first read told it
    std::string moduleName;    // what it called itself before, when told
    std::string versionBefore; // the version it ran before, when told
};

enum class Phase {
    Wake,  // the wake string is out; the bootloader gets its time
    Check, // asking the module's CRC before anything is erased
    Erase,
    Program,
    Verify,
    Run,     // starting the application
    Confirm, // waiting for the application to answer
};
std::string_view PhaseName(Phase phase);

enum class ModuleResult {
    Done,
    Unchanged, // it already held the image
    Verified,  // verify: it holds the image
    Failed,
    Interrupted,
};
std::string_view ResultName(ModuleResult result);

struct ModuleOutcome {
    ModuleResult result = ModuleResult::Failed;
    ExitCode code = ExitCode::Failed;
    std::string error;  // what went wrong
    std::string leftIn; // where the module was left when it went wrong
    double seconds = 0;
    unsigned tries = 1;
    std::optional<std::uint16_t> moduleCrc;
    std::string name;    // the application that answered after Run
    std::string version; // and its version
    std::string mac;     // and its MAC
};

} // namespace ostrel
