#pragma once

#include "fleet/FleetListener.h"
#include "fleet/UpdateJob.h"
#include "ledger/LedgerRecorder.h"

#include <map>
#include <optional>
#include <string>

namespace ostrel {

// Records each module's update in the ledger as the fleet reports it, and passes every event
// on: a row when its first try starts (as "interrupted", so that a killed process leaves its
// mark), made whole when the module ends, with its tries and resends.
class LedgerListener final : public FleetListener {
public:
    LedgerListener(FleetListener& next, LedgerRecorder& recorder, const UpdateJob& job,
                   std::string sha256);

    void Notice(Level level, const std::string& text) override { next.Notice(level, text); }
    void Start(const ModuleTarget& module, const std::string& file,
               const UpdatePlan& plan) override;
    void PhaseBegins(const ModuleTarget& module, Phase phase) override;
    void Progress(const ModuleTarget& module, std::uint32_t done, std::uint32_t total) override;
    void Resent(const ModuleTarget& module, BootCommand command, std::uint16_t send) override;
    void TryAgain(const ModuleTarget& module, const ModuleOutcome& failed,
                  unsigned nextTry) override;
    void End(const ModuleTarget& module, const ModuleOutcome& outcome) override;

private:
    struct Entry {
        std::optional<std::int64_t> id;
        UpdateRecord record;
    };

    FleetListener& next;
    LedgerRecorder& recorder;
    const UpdateJob& job;
    std::string sha256;
    std::map<std::string, Entry> entries; // by the module's name (its address)
};

} // namespace ostrel
