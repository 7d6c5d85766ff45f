#include "ledger/LedgerRecorder.h"

#include <filesystem>

namespace ostrel {

LedgerRecorder::LedgerRecorder(const LedgerPlace& place, RecordedBy recordedBy, Warn warning)
    : by(std::move(recordedBy)), warn(std::move(warning)), asked(place.path.has_value()) {
    if (!place.path) {
        return;
    }
    path = *place.path;
    if (place.isDefault) {
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    }
    auto opened = Ledger::Open(path);
    if (auto* why = std::get_if<std::string>(&opened)) {
        problem = *why;
        Failed(*why);
        return;
    }
    ledger.emplace(std::move(std::get<Ledger>(opened)));
}

void LedgerRecorder::Failed(const std::string& why) {
    if (!warned && warn) {
        warn("the ledger " + path + " cannot be used: " + why + "; nothing is recorded in it");
    }
    warned = true;
}

std::optional<std::int64_t> LedgerRecorder::BeginUpdate(const UpdateRecord& update) {
    if (!ledger) {
        return std::nullopt;
    }
    const auto id = ledger->BeginUpdate(update, by);
    if (!id) {
        Failed(ledger->Problem());
    }
    return id;
}

void LedgerRecorder::EndUpdate(std::optional<std::int64_t> id, const UpdateRecord& update) {
    if (ledger && id && !ledger->EndUpdate(*id, update)) {
        Failed(ledger->Problem());
    }
}

void LedgerRecorder::RecordScan(const std::vector<Sighting>& heard) {
    if (ledger && !ledger->RecordScan(LedgerTimestamp(), heard, by)) {
        Failed(ledger->Problem());
    }
}

void LedgerRecorder::RecordSettingsWrite(const SettingsWriteRecord& write) {
    if (ledger && !ledger->RecordSettingsWrite(write, by)) {
        Failed(ledger->Problem());
    }
}

void LedgerRecorder::RecordIdentify(const IdentifyRecord& identify) {
    if (ledger && !ledger->RecordIdentify(identify, by)) {
        Failed(ledger->Problem());
    }
}

} // namespace ostrel
