#pragma once

#include "ledger/LedgerRecords.h"
#include "ledger/Sqlite.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace ostrel {

// The record of the modules on a plant and of what was done to them: an SQLite file in WAL mode,
// each record one transaction, so that a process killed at any moment leaves it whole, and
// several programs can write to it at once (each waits its turn, at most busy).
class Ledger {
public:
    static constexpr std::chrono::seconds busy{10};

    // The ledger in the file, made when there is none; the reason, naming nothing but what
    // SQLite or the schema said, when it cannot be had. A file that cannot be used is left as
    // it is: never overwritten, never deleted.
    static std::variant<Ledger, std::string> Open(const std::string& path);

    const std::string& Path() const { return path; }

    // An update as it begins, recorded as "interrupted" until EndUpdate says how it ended;
    // its row id.
    std::optional<std::int64_t> BeginUpdate(const UpdateRecord& update, const RecordedBy& by);
    bool EndUpdate(std::int64_t id, const UpdateRecord& update);
    // One discovery: when, and every module it heard.
    bool RecordScan(const std::string& at, const std::vector<Sighting>& heard,
                    const RecordedBy& by);
    bool RecordSettingsWrite(const SettingsWriteRecord& write, const RecordedBy& by);
    bool RecordIdentify(const IdentifyRecord& identify, const RecordedBy& by);

    // Updates, newest first.
    std::vector<HistoryRow> History(const HistoryFilter& filter) const;
    // Every module discovery heard, by MAC, with its last state and last update.
    std::vector<InventoryRow> Inventory() const;

    // Why the last write or read failed.
    const std::string& Problem() const { return problem; }

private:
    Ledger(SqlDatabase opened, std::string file)
        : database(std::move(opened)), path(std::move(file)) {}
    bool Finish(SqlStatement& statement);

    SqlDatabase database;
    std::string path;
    mutable std::string problem;
};

// Now as the ledger writes times: ISO 8601 in UTC with milliseconds, which sorts as text.
std::string
LedgerTimestamp(std::chrono::system_clock::time_point at = std::chrono::system_clock::now());

} // namespace ostrel
