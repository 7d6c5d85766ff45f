// The ledger's file on its own: the schema and its migration, files it must refuse and leave
// alone, writes from several connections at once, and what history and inventory read back.
#include "ledger/Ledger.h"

#include "ledger/LedgerSchema.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

const RecordedBy by{"tester", "bench", "ledger_test", "1"};

Ledger OpenOrFail(const std::string& path) {
    auto opened = Ledger::Open(path);
    if (auto* why = std::get_if<std::string>(&opened)) {
        ADD_FAILURE() << *why;
        std::abort();
    }
    return std::move(std::get<Ledger>(opened));
}

UpdateRecord Update(const std::string& started, const std::string& address,
                    const std::string& result) {
    UpdateRecord update;
    update.started = started;
    update.operation = "update";
    update.address = address;
    update.mac = "00-50-C2-00-00-01";
    update.file = "app.hex";
    update.result = result;
    update.tries = 1;
    return update;
}

Sighting Seen(const std::string& mac, const std::string& address, const std::string& version,
              const std::string& ident = "Lab") {
    return {mac,
            address,
            "255.255.255.0",
            false,
            {'I', 'O'},
            {version.begin(), version.end()},
            {ident.begin(), ident.end()},
            "eth0"};
}

int Integer(const std::string& path, const char* sql) {
    std::string error;
    auto database = SqlDatabase::Open(path, error);
    SqlStatement query = database->Prepare(sql);
    return query.Step() ? static_cast<int>(query.Integer(0)) : -1;
}

TEST(LedgerTest, AFileOfTheFirstSchemaIsBroughtUpToDateWithItsRows) {
    const test::TempDir dir;
    const std::string path = dir.File("ledger.sqlite3").string();
    {
        std::string error;
        auto database = SqlDatabase::Open(path, error);
        ASSERT_TRUE(database->Execute(LedgerSchema::StepTo(1), error)) << error;
        ASSERT_TRUE(database->Execute("PRAGMA user_version = 1; INSERT INTO updates (started, "
                                      "operation, address, file, result, program) VALUES "
                                      "('2026-01-01', 'update', '10.0.0.1', 'a.hex', 'done', "
                                      "'ostrel')",
                                      error))
            << error;
    }
    Ledger ledger = OpenOrFail(path);
    EXPECT_EQ(Integer(path, "PRAGMA user_version"), LedgerSchema::current);
    EXPECT_EQ(ledger.History({}).size(), 1u) << "the old row stays";
    EXPECT_TRUE(ledger.RecordIdentify({"2026-01-02", "10.0.0.1", true}, by)) << "new tables";
}

TEST(LedgerTest, FilesItCannotUseAreRefusedAndLeftAsTheyWere) {
    const test::TempDir dir;
    const std::string notADatabase = dir.Write("notes.sqlite3", std::string(4096, 'x'));
    const std::string newer = dir.File("newer.sqlite3").string();
    {
        std::string error;
        auto database = SqlDatabase::Open(newer, error);
        ASSERT_TRUE(database->Execute("PRAGMA user_version = 99", error));
    }
    const auto newerBytes = test::ReadFile(newer);
    const std::pair<std::string, std::string> cases[] = {
        {notADatabase, "not a database"},
        {newer, "newer than this program's"},
        {"/proc/ostrel-ledger.sqlite3", "unable to open"}, // a folder nobody may write to
        {dir.Path().string(), "unable to open"},
    };
    for (const auto& [path, says] : cases) {
        auto opened = Ledger::Open(path);
        ASSERT_TRUE(std::holds_alternative<std::string>(opened)) << path;
        EXPECT_NE(std::get<std::string>(opened).find(says), std::string::npos)
            << path << ": " << std::get<std::string>(opened);
    }
    EXPECT_TRUE(test::ReadFile(notADatabase) == std::string(4096, 'x')) << "left as it was";
    EXPECT_TRUE(test::ReadFile(newer) == newerBytes) << "left as it was";
}

TEST(LedgerTest, AFullDiskFailsAWriteAndLeavesTheFileWhole) {
    const test::TempDir dir;
    const std::string path = dir.File("ledger.sqlite3").string();
    OpenOrFail(path);
    const pid_t child = ::fork();
    if (child == 0) {
        // The file may grow no further: as on a full disk, the next pages cannot be written.
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{std::filesystem::file_size(path), std::filesystem::file_size(path)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        auto opened = Ledger::Open(path);
        Ledger* ledger = std::get_if<Ledger>(&opened);
        if (ledger == nullptr) {
            ::_exit(2);
        }
        bool failed = false;
        UpdateRecord big = Update("2026-01-01", "10.0.0.1", "done");
        big.error = std::string(100000, 'e');
        for (int i = 0; i < 50 && !failed; ++i) {
            failed = !ledger->BeginUpdate(big, by) && !ledger->Problem().empty();
        }
        ::_exit(failed ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write failed, and said so";
    std::string error;
    auto database = SqlDatabase::Open(path, error);
    SqlStatement check = database->Prepare("PRAGMA integrity_check");
    ASSERT_TRUE(check.Step());
    EXPECT_EQ(check.Text(0), "ok");
}

TEST(LedgerTest, SeveralConnectionsWritingAtOnceKeepEveryRow) {
    const test::TempDir dir;
    const std::string path = dir.File("ledger.sqlite3").string();
    std::vector<std::jthread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([&path, w] {
            Ledger ledger = OpenOrFail(path);
            for (int i = 0; i < 64; ++i) {
                const auto id = ledger.BeginUpdate(
                    Update("2026-01-01", "10.0.0." + std::to_string(w), "interrupted"), by);
                ASSERT_TRUE(id) << ledger.Problem();
                ASSERT_TRUE(ledger.EndUpdate(
                    *id, Update("2026-01-01", "10.0.0." + std::to_string(w), "done")));
            }
        });
    }
    writers.clear();
    EXPECT_EQ(Integer(path, "SELECT COUNT(*) FROM updates WHERE result = 'done'"), 256);
}

TEST(LedgerTest, HistoryFiltersAndInventoryTellsWhatTheLastScanChanged) {
    const test::TempDir dir;
    Ledger ledger = OpenOrFail(dir.File("ledger.sqlite3").string());
    ASSERT_TRUE(ledger.BeginUpdate(Update("2026-01-01T10:00:00.000Z", "10.0.0.1", "done"), by));
    ASSERT_TRUE(ledger.BeginUpdate(Update("2026-02-01T10:00:00.000Z", "10.0.0.2", "failed"), by));
    ASSERT_TRUE(ledger.BeginUpdate(Update("2026-03-01T10:00:00.000Z", "10.0.0.1", "done"), by));
    const auto started = [&](const HistoryFilter& filter) {
        std::vector<std::string> times;
        for (const HistoryRow& row : ledger.History(filter)) {
            times.push_back(row.update.started.substr(0, 7));
        }
        return times;
    };
    EXPECT_EQ(started({}), (std::vector<std::string>{"2026-03", "2026-02", "2026-01"}));
    EXPECT_EQ(started({"", "10.0.0.1", "", "", {}}),
              (std::vector<std::string>{"2026-03", "2026-01"}));
    EXPECT_EQ(started({"", "", "2026-02", "", {}}),
              (std::vector<std::string>{"2026-03", "2026-02"}));
    EXPECT_EQ(started({"", "", "", "failed", {}}), (std::vector<std::string>{"2026-02"}));
    EXPECT_EQ(started({"", "", "", "", 1u}), (std::vector<std::string>{"2026-03"}));

    const std::string a = "00-50-C2-00-00-01", b = "00-50-C2-00-00-02", c = "00-50-C2-00-00-03",
                      d = "00-50-C2-00-00-04";
    ASSERT_TRUE(ledger.RecordScan(
        "2026-03-02",
        {Seen(a, "10.0.0.1", "1.0"), Seen(b, "10.0.0.2", "1.0"), Seen(c, "10.0.0.3", "1.0")}, by));
    ASSERT_TRUE(ledger.RecordScan("2026-03-03",
                                  {Seen(a, "10.0.0.9", "1.0"), Seen(b, "10.0.0.2", "1.1", "Hall"),
                                   Seen(d, "10.0.0.4", "1.0")},
                                  by));
    std::map<std::string, std::vector<std::string>> changes;
    for (const InventoryRow& row : ledger.Inventory()) {
        changes[row.last.mac] = row.changes;
        if (row.last.mac == a) {
            EXPECT_EQ(row.firstSeen, "2026-03-02");
            EXPECT_EQ(row.lastSeen, "2026-03-03");
            EXPECT_EQ(row.lastUpdate.substr(0, 7), "2026-03") << "the update by its MAC";
        }
    }
    EXPECT_EQ(changes[a], std::vector<std::string>{"address changed"});
    EXPECT_EQ(changes[b], (std::vector<std::string>{"version changed", "identification changed"}));
    EXPECT_EQ(changes[c], std::vector<std::string>{"not answering"});
    EXPECT_EQ(changes[d], std::vector<std::string>{"new"});
}

} // namespace
} // namespace ostrel
