// What the ledger costs: recording one update (its row begun and made whole, each a transaction
// synced to disk), and history and inventory over 100,000 rows: updates of 1,000 modules and
// 1,000 scans of 100 modules each.
#include "ledger/Ledger.h"
#include "tests/support/TempDir.h"

#include <benchmark/benchmark.h>

namespace {

using namespace ostrel;

const RecordedBy by{"bench", "host", "ledger_bench", "1"};

std::string Mac(int n) {
    char text[32];
    std::snprintf(text, sizeof text, "00-50-C2-00-%02X-%02X", (n >> 8) & 0xFF, n & 0xFF);
    return text;
}

UpdateRecord AnUpdate(int n) {
    UpdateRecord update;
    update.started = LedgerTimestamp();
    update.operation = "update";
    update.address = "10.0." + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1);
    update.mac = Mac(n % 1000);
    update.file = "app-2.4.hex";
    update.sha256 = std::string(64, 'a');
    update.result = n % 10 == 0 ? "failed" : "done";
    update.tries = 1;
    return update;
}

// One ledger of 100,000 updates and 100,000 sightings, made once for the whole run.
class FullLedger {
public:
    FullLedger() {
        { auto made = Ledger::Open(path); } // the schema
        // Filled in one transaction: a transaction per row would take minutes of syncs here.
        std::string error;
        auto database = SqlDatabase::Open(path, error);
        database->Execute("PRAGMA synchronous = OFF; BEGIN", error);
        SqlStatement update = database->Prepare(
            "INSERT INTO updates (started, operation, address, mac, file, result, tries, program) "
            "VALUES (?1, 'update', ?2, ?3, 'app-2.4.hex', ?4, 1, 'ledger_bench')");
        for (int n = 0; n < 100000; ++n) {
            const UpdateRecord record = AnUpdate(n);
            update.Reset().Bind(1, record.started).Bind(2, record.address).Bind(3, record.mac);
            update.Bind(4, record.result).Step();
        }
        SqlStatement scan = database->Prepare("INSERT INTO scans (at, program) VALUES (?1, 'b')");
        SqlStatement sighting = database->Prepare(
            "INSERT INTO sightings (scan, mac, address, mask, dhcp, name, version, "
            "identification, interface) VALUES (?1, ?2, ?3, '255.255.255.0', 0, 'IO', '1.0', "
            "'Lab', 'eth0')");
        for (int n = 0; n < 1000; ++n) {
            scan.Reset().Bind(1, LedgerTimestamp()).Step();
            const std::int64_t id = database->LastRowId();
            for (int m = 0; m < 100; ++m) {
                sighting.Reset().Bind(1, id).Bind(2, Mac(m));
                sighting.Bind(3, "10.0.0." + std::to_string(m + 1)).Step();
            }
        }
        database->Execute("COMMIT", error);
    }
    Ledger Open() const { return std::move(std::get<Ledger>(Ledger::Open(path))); }

private:
    test::TempDir dir;
    std::string path = dir.File("ledger.sqlite3").string();
};

const FullLedger& Full() {
    static const FullLedger ledger;
    return ledger;
}

void RecordOneUpdate(benchmark::State& state) {
    test::TempDir dir;
    auto opened = Ledger::Open(dir.File("ledger.sqlite3").string());
    Ledger& ledger = std::get<Ledger>(opened);
    int n = 0;
    for (auto _ : state) {
        UpdateRecord update = AnUpdate(n++);
        const auto id = ledger.BeginUpdate(update, by);
        update.ended = LedgerTimestamp();
        ledger.EndUpdate(*id, update);
    }
}
BENCHMARK(RecordOneUpdate)->Unit(benchmark::kMillisecond);

void History(benchmark::State& state, HistoryFilter filter) {
    Ledger ledger = Full().Open();
    std::size_t rows = 0;
    for (auto _ : state) {
        rows = ledger.History(filter).size();
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK_CAPTURE(History, Newest100, HistoryFilter{{}, {}, {}, {}, 100u})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(History, OneModule, HistoryFilter{Mac(7), {}, {}, {}, {}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(History, FailedOnes100, HistoryFilter{{}, {}, {}, "failed", 100u})
    ->Unit(benchmark::kMillisecond);

void Inventory(benchmark::State& state) {
    Ledger ledger = Full().Open();
    std::size_t rows = 0;
    for (auto _ : state) {
        rows = ledger.Inventory().size();
    }
    state.counters["modules"] = static_cast<double>(rows);
}
BENCHMARK(Inventory)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
