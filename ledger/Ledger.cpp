#include "ledger/Ledger.h"

#include "ledger/LedgerSchema.h"

#include <cstdio>
#include <ctime>
#include <thread>

namespace ostrel {

namespace {

// The columns of an update after its id, in the order the statements below name them.
constexpr const char* updateColumns =
    "started, ended, operation, address, mac, name_before, version_before, name_after, "
    "version_after, file, sha256, start, length, crc, result, exit_code, tries, resends, "
    "left_in, error";

template <typename T>
void BindOptional(SqlStatement& statement, int index, const std::optional<T>& value) {
    if (value) {
        statement.Bind(index, static_cast<std::int64_t>(*value));
    } else {
        statement.BindNull(index);
    }
}

std::optional<std::string_view> Unless(const std::string& text) {
    return text.empty() ? std::nullopt : std::optional<std::string_view>(text);
}

// Binds an update's fields from position 1 on, as updateColumns lists them.
void BindUpdate(SqlStatement& statement, const UpdateRecord& update) {
    statement.Bind(1, update.started)
        .BindTextOrNull(2, Unless(update.ended))
        .Bind(3, update.operation);
    statement.Bind(4, update.address).BindTextOrNull(5, Unless(update.mac));
    statement.BindBytes(6, update.nameBefore).BindBytes(7, update.versionBefore);
    statement.BindBytes(8, update.nameAfter).BindBytes(9, update.versionAfter);
    statement.BindBytes(10, std::span(reinterpret_cast<const std::uint8_t*>(update.file.data()),
                                      update.file.size()));
    statement.BindTextOrNull(11, Unless(update.sha256));
    BindOptional(statement, 12, update.start);
    BindOptional(statement, 13, update.length);
    BindOptional(statement, 14, update.crc);
    statement.Bind(15, update.result);
    BindOptional(statement, 16, update.exitCode);
    statement.Bind(17, static_cast<std::int64_t>(update.tries));
    BindOptional(statement, 18, update.resends);
    statement.BindTextOrNull(19, Unless(update.leftIn)).BindTextOrNull(20, Unless(update.error));
}

void BindBy(SqlStatement& statement, int first, const RecordedBy& by) {
    statement.Bind(first, by.user).Bind(first + 1, by.host);
    statement.Bind(first + 2, by.program).Bind(first + 3, by.programVersion);
}

// A statement left stepping would hold the file: each is done with before the next. Making a
// new file WAL needs it alone for a moment, and the busy handler does not wait for that, so a
// second program opening the same new file waits its turn here.
bool InWalMode(SqlDatabase& database) {
    const auto until = std::chrono::steady_clock::now() + Ledger::busy;
    while (true) {
        SqlStatement journal = database.Prepare("PRAGMA journal_mode = WAL");
        if (journal.Step()) {
            return journal.Text(0) == "wal";
        }
        const bool busy = journal.Status() == SQLITE_BUSY || journal.Status() == SQLITE_LOCKED;
        if (!busy || std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

std::string LedgerTimestamp(std::chrono::system_clock::time_point at) {
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis % 1000));
    return text;
}

std::variant<Ledger, std::string> Ledger::Open(const std::string& path) {
    std::string error;
    auto database = SqlDatabase::Open(path, error);
    if (!database) {
        return error;
    }
    sqlite3_busy_timeout(database->Get(), static_cast<int>(busy.count() * 1000));
    // The version is read first: it is the first touch of the file, where one that is no
    // database, or cannot be read, says so; and a newer one is refused before anything, the
    // journal mode in its header too, is written.
    const int version = LedgerSchema::VersionOf(*database, error);
    if (version < 0) {
        return error;
    }
    if (version > LedgerSchema::current) {
        return "its schema is version " + std::to_string(version) + ", newer than this " +
               "program's " + std::to_string(LedgerSchema::current);
    }
    if (!InWalMode(*database)) {
        return "cannot keep a write-ahead log beside it (" + database->LastError() + ")";
    }
    if (!database->Execute("PRAGMA synchronous = FULL; PRAGMA foreign_keys = ON", error) ||
        !LedgerSchema::Migrate(*database, error)) {
        return error;
    }
    return Ledger(std::move(*database), path);
}

bool Ledger::Finish(SqlStatement& statement) {
    statement.Step();
    if (!statement.Done()) {
        problem = database.LastError();
        return false;
    }
    return true;
}

std::optional<std::int64_t> Ledger::BeginUpdate(const UpdateRecord& update, const RecordedBy& by) {
    SqlStatement insert = database.Prepare(
        std::string("INSERT INTO updates (") + updateColumns +
        ", user, host, program, program_version) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, "
        "?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24)");
    BindUpdate(insert, update);
    BindBy(insert, 21, by);
    if (!Finish(insert)) {
        return std::nullopt;
    }
    return database.LastRowId();
}

bool Ledger::EndUpdate(std::int64_t id, const UpdateRecord& update) {
    SqlStatement change = database.Prepare(
        "UPDATE updates SET (" + std::string(updateColumns) +
        ") = (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, "
        "?19, ?20) WHERE id = ?21");
    BindUpdate(change, update);
    change.Bind(21, id);
    return Finish(change);
}

bool Ledger::RecordScan(const std::string& at, const std::vector<Sighting>& heard,
                        const RecordedBy& by) {
    SqlTransaction transaction(database);
    SqlStatement scan = database.Prepare(
        "INSERT INTO scans (at, user, host, program, program_version) VALUES (?1, ?2, ?3, ?4, ?5)");
    scan.Bind(1, at);
    BindBy(scan, 2, by);
    if (!transaction.Began() || !Finish(scan)) {
        problem = database.LastError();
        return false;
    }
    const std::int64_t scanId = database.LastRowId();
    for (const Sighting& module : heard) {
        SqlStatement sighting = database.Prepare(
            "INSERT INTO sightings (scan, mac, address, mask, dhcp, name, version, "
            "identification, interface) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
        sighting.Bind(1, scanId).Bind(2, module.mac).Bind(3, module.address).Bind(4, module.mask);
        sighting.Bind(5, std::int64_t{module.dhcp});
        sighting.BindBytes(6, module.name).BindBytes(7, module.version);
        sighting.BindBytes(8, module.identification)
            .BindTextOrNull(9, Unless(module.interfaceName));
        if (!Finish(sighting)) {
            return false;
        }
    }
    return transaction.Commit(problem);
}

bool Ledger::RecordSettingsWrite(const SettingsWriteRecord& write, const RecordedBy& by) {
    SqlStatement insert = database.Prepare(
        "INSERT INTO settings_writes (at, address, mac, before, after, result, user, host, "
        "program, program_version) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
    insert.Bind(1, write.at).Bind(2, write.address).BindTextOrNull(3, Unless(write.mac));
    insert.Bind(4, write.before).Bind(5, write.after).Bind(6, write.result);
    BindBy(insert, 7, by);
    return Finish(insert);
}

bool Ledger::RecordIdentify(const IdentifyRecord& identify, const RecordedBy& by) {
    SqlStatement insert =
        database.Prepare("INSERT INTO identify_switches (at, address, state, user, host, program, "
                         "program_version) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    insert.Bind(1, identify.at).Bind(2, identify.address).Bind(3, std::int64_t{identify.on});
    BindBy(insert, 4, by);
    return Finish(insert);
}

} // namespace ostrel
