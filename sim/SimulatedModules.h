#pragma once

#include "common/UniqueFd.h"
#include "sim/ModuleSimulator.h"
#include "sim/SimLog.h"
#include "sim/SimOptions.h"

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ostrel::sim {

// The modules one process simulates (--modules N) on consecutive addresses from --address,
// each with its own socket, MAC, flash, faults and seed, served by one epoll loop. The first
// --faulty K of them get the fault options, the rest are sound. One module alone behaves as
// a simulator always has.
class SimulatedModules {
public:
    explicit SimulatedModules(const SimOptions& options);

    // Opens the log and binds every module's socket. Returns a message when that fails.
    std::optional<std::string> Open();
    // The first module's "ip:port", and for many how many more up to which address.
    std::string Listening() const;
    // Serves until stopFd becomes readable, then writes the dumps. Returns the exit status.
    int Run(int stopFd);

private:
    SimOptions ModuleOptions(unsigned index) const;
    std::optional<timespec> NextReplyDue();

    SimOptions options;
    SimLog log;
    std::vector<std::unique_ptr<ModuleSimulator>> modules;
    std::set<std::size_t> waiting; // the modules with replies due later
    UniqueFd poller;
    std::vector<std::uint8_t> scratch;
};

} // namespace ostrel::sim
