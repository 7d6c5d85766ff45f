#include "fleet/LedgerListener.h"

#include "fleet/LedgerEntries.h"

namespace ostrel {

LedgerListener::LedgerListener(FleetListener& nextListener, LedgerRecorder& ledger,
                               const UpdateJob& theJob, std::string fileSha256)
    : next(nextListener), recorder(ledger), job(theJob), sha256(std::move(fileSha256)) {}

void LedgerListener::Start(const ModuleTarget& module, const std::string& file,
                           const UpdatePlan& plan) {
    next.Start(module, file, plan);
    if (entries.contains(module.name)) {
        return; // a later try of the same update
    }
    Entry& entry = entries[module.name];
    UpdateRecord& record = entry.record;
    record.started = LedgerTimestamp();
    record.operation = job.options.mode == UpdateMode::VerifyOnly ? "verify" : "update";
    record.address = module.name;
    record.mac = module.mac;
    record.nameBefore = BytesOf(module.moduleName);
    record.versionBefore = BytesOf(module.versionBefore);
    record.file = file;
    record.sha256 = sha256;
    record.start = plan.verify.start;
    record.length = plan.verify.length;
    record.crc = plan.verify.crc;
    record.result = "interrupted";
    record.resends = 0;
    entry.id = recorder.BeginUpdate(record);
}

void LedgerListener::PhaseBegins(const ModuleTarget& module, Phase phase) {
    next.PhaseBegins(module, phase);
}

void LedgerListener::Progress(const ModuleTarget& module, std::uint32_t done, std::uint32_t total) {
    next.Progress(module, done, total);
}

void LedgerListener::Resent(const ModuleTarget& module, BootCommand command, std::uint16_t send) {
    next.Resent(module, command, send);
    if (auto entry = entries.find(module.name); entry != entries.end()) {
        ++*entry->second.record.resends;
    }
}

void LedgerListener::TryAgain(const ModuleTarget& module, const ModuleOutcome& failed,
                              unsigned nextTry) {
    next.TryAgain(module, failed, nextTry);
}

void LedgerListener::End(const ModuleTarget& module, const ModuleOutcome& outcome) {
    next.End(module, outcome);
    const auto entry = entries.find(module.name);
    if (entry == entries.end()) {
        return;
    }
    UpdateRecord& record = entry->second.record;
    record.ended = LedgerTimestamp();
    record.mac = !module.mac.empty() ? module.mac : outcome.mac;
    record.nameAfter = BytesOf(outcome.name);
    record.versionAfter = BytesOf(outcome.version);
    record.result = std::string(ResultName(outcome.result));
    record.exitCode = ToInt(outcome.code);
    record.tries = outcome.tries;
    record.leftIn = outcome.leftIn;
    record.error = outcome.error;
    recorder.EndUpdate(entry->second.id, record);
}

} // namespace ostrel
