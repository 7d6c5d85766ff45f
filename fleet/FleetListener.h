#pragma once

#include "bootlink/BootCommand.h"
#include "fleet/ModuleOutcome.h"
#include "update/UpdatePlan.h"

#include <cstdint>
#include <string>

namespace ostrel {

// What a run tells its user besides the modules' events: the discovery's requests, warnings
// about the file or an interface, and why a run could not start.
class Notices {
public:
    enum class Level { Info, Warning, Error };

    virtual ~Notices() = default;
    virtual void Notice(Level level, const std::string& text) = 0;

    void Say(const std::string& text) { Notice(Level::Info, text); }
    void Warn(const std::string& text) { Notice(Level::Warning, text); }
    void Error(const std::string& text) { Notice(Level::Error, text); }
};

// Where a fleet's updates report, from the thread that runs them: the console's lines, bars and
// JSON, or the fleet window's table.
class FleetListener : public Notices {
public:
    virtual void Start(const ModuleTarget& module, const std::string& file,
                       const UpdatePlan& plan) = 0;
    virtual void PhaseBegins(const ModuleTarget& module, Phase phase) = 0;
    // Records sent in Program frames so far, of the file's lines.
    virtual void Progress(const ModuleTarget& module, std::uint32_t done, std::uint32_t total) = 0;
    // A command's frame went out again after its time-out; send counts from 1 for the first.
    virtual void Resent(const ModuleTarget& module, BootCommand command, std::uint16_t send) = 0;
    // A try failed and the module is updated again from the wake string.
    virtual void TryAgain(const ModuleTarget& module, const ModuleOutcome& failed,
                          unsigned nextTry) = 0;
    virtual void End(const ModuleTarget& module, const ModuleOutcome& outcome) = 0;
};

} // namespace ostrel
