#include "ledger/LedgerSchema.h"

namespace ostrel {

namespace {

// The first ledger: updates, and the modules each discovery heard.
constexpr const char* version1 = R"(
CREATE TABLE updates (
    id INTEGER PRIMARY KEY,
    started TEXT NOT NULL,
    ended TEXT,
    operation TEXT NOT NULL,
    address TEXT NOT NULL,
    mac TEXT,
    name_before BLOB,
    version_before BLOB,
    name_after BLOB,
    version_after BLOB,
    file BLOB NOT NULL,
    sha256 TEXT,
    start INTEGER,
    length INTEGER,
    crc INTEGER,
    result TEXT NOT NULL,
    exit_code INTEGER,
    tries INTEGER NOT NULL DEFAULT 0,
    resends INTEGER,
    left_in TEXT,
    error TEXT,
    user TEXT,
    host TEXT,
    program TEXT NOT NULL,
    program_version TEXT
);
CREATE INDEX updates_by_started ON updates (started);
CREATE INDEX updates_by_mac ON updates (mac, started);
CREATE INDEX updates_by_address ON updates (address, started);
CREATE TABLE scans (
    id INTEGER PRIMARY KEY,
    at TEXT NOT NULL,
    user TEXT,
    host TEXT,
    program TEXT NOT NULL,
    program_version TEXT
);
CREATE TABLE sightings (
    id INTEGER PRIMARY KEY,
    scan INTEGER NOT NULL REFERENCES scans (id) ON DELETE CASCADE,
    mac TEXT NOT NULL,
    address TEXT,
    mask TEXT,
    dhcp INTEGER,
    name BLOB,
    version BLOB,
    identification BLOB,
    interface TEXT
);
CREATE INDEX sightings_by_mac ON sightings (mac, scan);
CREATE INDEX sightings_by_scan ON sightings (scan);
)";

// Settings written and identify switches.
constexpr const char* version2 = R"(
CREATE TABLE settings_writes (
    id INTEGER PRIMARY KEY,
    at TEXT NOT NULL,
    address TEXT NOT NULL,
    mac TEXT,
    before TEXT,
    after TEXT,
    result TEXT NOT NULL,
    user TEXT,
    host TEXT,
    program TEXT NOT NULL,
    program_version TEXT
);
CREATE TABLE identify_switches (
    id INTEGER PRIMARY KEY,
    at TEXT NOT NULL,
    address TEXT NOT NULL,
    state INTEGER NOT NULL,
    user TEXT,
    host TEXT,
    program TEXT NOT NULL,
    program_version TEXT
);
)";

} // namespace

const char* LedgerSchema::StepTo(int version) {
    switch (version) {
    case 1:
        return version1;
    case 2:
        return version2;
    default:
        return nullptr;
    }
}

int LedgerSchema::VersionOf(SqlDatabase& database, std::string& error) {
    SqlStatement query = database.Prepare("PRAGMA user_version");
    if (!query.Step()) {
        error = database.LastError();
        return -1;
    }
    return static_cast<int>(query.Integer(0));
}

bool LedgerSchema::Migrate(SqlDatabase& database, std::string& error) {
    const auto newer = [&](int found) {
        error = "its schema is version " + std::to_string(found) + ", newer than this " +
                "program's " + std::to_string(current);
        return false;
    };
    int found = VersionOf(database, error);
    if (found < 0 || found > current) {
        return found < 0 ? false : newer(found);
    }
    if (found == current) {
        return true;
    }
    SqlTransaction transaction(database);
    if (!transaction.Began()) {
        error = database.LastError();
        return false;
    }
    found = VersionOf(database, error); // another program may have made it meanwhile
    if (found < 0 || found > current) {
        return found < 0 ? false : newer(found);
    }
    for (int version = found + 1; version <= current; ++version) {
        if (!database.Execute(StepTo(version), error)) {
            return false;
        }
    }
    return database.Execute("PRAGMA user_version = " + std::to_string(current), error) &&
           transaction.Commit(error);
}

} // namespace ostrel
