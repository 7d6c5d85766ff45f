#pragma once

#include "cli/LinkReportQueue.h"
#include "cli/ModuleUpdate.h"
#include "cli/StopSignals.h"

#include <memory>
#include <vector>

namespace ostrel::cli {

// Runs module updates side by side on the console's one thread. It waits on the links' reports,
// the probes' sockets and the stop signals, and for the next tick any update wants; it never
// spins. At most parallel updates run at once (0: all); the rest start as others end.
class UpdateLoop {
public:
    UpdateLoop(LinkReportQueue& queue, const StopSignals& stop, std::size_t parallel);

    // Runs them all to their ends. On a stop signal every running update is interrupted and
    // those not started end as interrupted too; returns false then.
    bool Run(std::vector<std::unique_ptr<ModuleUpdate>>& updates);

private:
    LinkReportQueue& queue;
    const StopSignals& stop;
    std::size_t parallel;
};

} // namespace ostrel::cli
