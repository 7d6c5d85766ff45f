// The ledger's reads: history and inventory.
#include "ledger/Ledger.h"

#include <algorithm>

namespace ostrel {

namespace {

UpdateRecord UpdateFrom(const SqlStatement& row, int first) {
    const auto optional = [&](int column) {
        return row.IsNull(first + column)
                   ? std::nullopt
                   : std::optional<std::int64_t>(row.Integer(first + column));
    };
    UpdateRecord update;
    update.started = row.Text(first);
    update.ended = row.Text(first + 1);
    update.operation = row.Text(first + 2);
    update.address = row.Text(first + 3);
    update.mac = row.Text(first + 4);
    update.nameBefore = row.Bytes(first + 5);
    update.versionBefore = row.Bytes(first + 6);
    update.nameAfter = row.Bytes(first + 7);
    update.versionAfter = row.Bytes(first + 8);
    const auto file = row.Bytes(first + 9);
    update.file.assign(file.begin(), file.end());
    update.sha256 = row.Text(first + 10);
    if (const auto start = optional(11)) {
        update.start = static_cast<std::uint32_t>(*start);
    }
    if (const auto length = optional(12)) {
        update.length = static_cast<std::uint32_t>(*length);
    }
    if (const auto crc = optional(13)) {
        update.crc = static_cast<std::uint16_t>(*crc);
    }
    update.result = row.Text(first + 14);
    if (const auto code = optional(15)) {
        update.exitCode = static_cast<int>(*code);
    }
    update.tries = static_cast<unsigned>(row.Integer(first + 16));
    if (const auto resends = optional(17)) {
        update.resends = static_cast<unsigned>(*resends);
    }
    update.leftIn = row.Text(first + 18);
    update.error = row.Text(first + 19);
    return update;
}

Sighting SightingFrom(const SqlStatement& row) {
    return {row.Text(0),  row.Text(1),  row.Text(2),  row.Integer(3) != 0,
            row.Bytes(4), row.Bytes(5), row.Bytes(6), row.Text(7)};
}

} // namespace

std::vector<HistoryRow> Ledger::History(const HistoryFilter& filter) const {
    // Only the conditions asked for, so that the indexes by MAC, address and time serve them.
    std::string where;
    const auto condition = [&](const std::string& value, const char* test) {
        if (!value.empty()) {
            where += std::string(where.empty() ? " WHERE " : " AND ") + test;
        }
    };
    condition(filter.mac, "mac = ?1");
    condition(filter.address, "address = ?2");
    condition(filter.since, "started >= ?3");
    condition(filter.result, "result = ?4");
    SqlStatement query = database.Prepare(
        "SELECT id, started, ended, operation, address, mac, name_before, version_before, "
        "name_after, version_after, file, sha256, start, length, crc, result, exit_code, tries, "
        "resends, left_in, error, user, host, program, program_version FROM updates" +
        where + " ORDER BY started DESC, id DESC LIMIT ?5");
    query.Bind(1, filter.mac).Bind(2, filter.address).Bind(3, filter.since).Bind(4, filter.result);
    query.Bind(5, filter.limit ? static_cast<std::int64_t>(*filter.limit) : std::int64_t{-1});
    std::vector<HistoryRow> rows;
    while (query.Step()) {
        rows.push_back({query.Integer(0),
                        UpdateFrom(query, 1),
                        {query.Text(21), query.Text(22), query.Text(23), query.Text(24)}});
    }
    if (!query.Done()) {
        problem = database.LastError();
    }
    return rows;
}

std::vector<InventoryRow> Ledger::Inventory() const {
    SqlStatement lastScan = database.Prepare("SELECT MAX(id) FROM scans");
    const std::int64_t latest = lastScan.Step() ? lastScan.Integer(0) : 0;
    SqlStatement modules = database.Prepare(
        "WITH seen AS (SELECT mac, MAX(sightings.id) AS last, MIN(at) AS first_at, "
        "MAX(at) AS last_at FROM sightings JOIN scans ON scans.id = sightings.scan GROUP BY mac) "
        "SELECT s.mac, s.address, s.mask, s.dhcp, s.name, s.version, s.identification, "
        "s.interface, seen.first_at, seen.last_at, s.scan FROM seen "
        "JOIN sightings s ON s.id = seen.last ORDER BY s.mac");
    SqlStatement lastUpdate = database.Prepare(
        "SELECT started, result FROM updates WHERE mac = ?1 OR (mac IS NULL AND address = ?2) "
        "ORDER BY started DESC LIMIT 1");
    SqlStatement before = database.Prepare(
        "SELECT address, version, identification FROM sightings WHERE mac = ?1 AND scan < ?2 "
        "ORDER BY scan DESC LIMIT 1");
    std::vector<InventoryRow> rows;
    while (modules.Step()) {
        InventoryRow row{SightingFrom(modules), modules.Text(8), modules.Text(9), {}, {}, {}};
        lastUpdate.Reset().Bind(1, row.last.mac).Bind(2, row.last.address);
        if (lastUpdate.Step()) {
            row.lastUpdate = lastUpdate.Text(0);
            row.lastResult = lastUpdate.Text(1);
        }
        if (modules.Integer(10) != latest) {
            row.changes.push_back("not answering");
        } else if (!before.Reset().Bind(1, row.last.mac).Bind(2, latest).Step()) {
            row.changes.push_back("new");
        } else {
            if (before.Text(0) != row.last.address) {
                row.changes.push_back("address changed");
            }
            if (before.Bytes(1) != row.last.version) {
                row.changes.push_back("version changed");
            }
            if (before.Bytes(2) != row.last.identification) {
                row.changes.push_back("identification changed");
            }
        }
        rows.push_back(std::move(row));
    }
    if (!modules.Done()) {
        problem = database.LastError();
    }
    return rows;
}

} // namespace ostrel
