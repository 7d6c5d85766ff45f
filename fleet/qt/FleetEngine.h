#pragma once

#include "common/WakeEvent.h"
#include "fleet/FleetDiscovery.h"
#include "fleet/FleetOutcome.h"
#include "fleet/FleetReport.h"
#include "fleet/FleetTargets.h"
#include "fleet/UpdateJob.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace ostrel {

// What the engine told the window, in the order it happened.
struct EngineEvent {
    enum class Kind { Start, Phase, Progress, Resent, TryAgain, End, Notice, Scanned, Read, Ended };
    Kind kind = Kind::Notice;
    DeviceAddress module = 0; // the module's address
    Phase phase = Phase::Wake;
    std::uint32_t done = 0;
    std::uint32_t total = 0;
    ModuleOutcome outcome;
    Notices::Level level = Notices::Level::Info;
    std::string text;
    std::vector<DiscoveredModule> heard;                 // Scanned
    ExitCode failure = ExitCode::Done;                   // Scanned
    std::vector<DeviceAddress> asked;                    // Read
    std::vector<std::optional<ManagementReply>> replies; // Read
    FleetOutcome fleet;                                  // Ended
    std::vector<ReportRow> rows;                         // Ended
    ReportImage image;                                   // Ended
};

// The fleet engine off the window's thread: one job at a time (an update or verify of many
// modules, a scan, or unicast reads) on a thread of its own, which records in its own
// connection to the ledger. The window takes what happened in batches, as often as it redraws,
// and never waits for the network.
class FleetEngine {
public:
    FleetEngine() = default;
    FleetEngine(const FleetEngine&) = delete;
    FleetEngine& operator=(const FleetEngine&) = delete;
    ~FleetEngine();

    bool Busy() const { return busy.load(); }
    // Each starts the job unless one runs; false then.
    bool Update(UpdateJob job, std::vector<FleetTarget> targets, FleetPolicy policy,
                std::string sha256);
    bool Scan(DiscoveryChoice choice);
    bool Read(std::vector<DeviceAddress> modules);
    // Every link stops where it is, as Ctrl-C stops the console's.
    void Stop() { stop.Signal(); }

    std::vector<EngineEvent> Take();
    void Post(EngineEvent event);

private:
    template <typename Job>
    bool Launch(Job job);

    std::atomic<bool> busy{false};
    WakeEvent stop;
    std::mutex mutex;
    std::deque<EngineEvent> events;
    // Where each module's progress waits in events: a newer one takes its place, since only
    // the last is drawn.
    std::unordered_map<DeviceAddress, std::size_t> progressAt;
    std::jthread worker;
};

} // namespace ostrel
