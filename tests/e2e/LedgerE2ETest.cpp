// What the built ostrel-cli records in its ledger and reads back from it, against simulated
// modules on loopback.
#include "ledger/Ledger.h"
#include "tests/support/CliProcess.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <thread>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

// This test program's own loopback addresses.
std::string ModuleAt(int n) {
    return "127.0.36." + std::to_string(n);
}

class LedgerE2ETest : public ::testing::Test {
protected:
    test::CliRun Run(std::vector<std::string> args, std::chrono::milliseconds limit = 30s) {
        args.insert(args.begin(), {"--ledger", ledgerPath});
        return console.Run(args, limit);
    }
    std::vector<std::string> Update(int module) const {
        return {"update", firmware, "--ip", ModuleAt(module), "--timeout-scale", "0.2"};
    }
    std::vector<nlohmann::json> History(std::vector<std::string> filters = {}) {
        filters.insert(filters.begin(), {"--json", "history"});
        return Run(filters).JsonLines();
    }
    std::string Scalar(const char* sql) const {
        std::string error;
        auto database = SqlDatabase::Open(ledgerPath, error);
        SqlStatement query = database->Prepare(sql);
        return query.Step() ? query.Text(0) : "";
    }

    test::TempDir dir;
    test::CliLauncher console{OSTREL_CLI_PATH, dir};
    std::string ledgerPath = dir.File("ledger.sqlite3").string();
    std::string firmware = dir.Write("app.hex", test::MakeFirmware(4096).Text());
};

TEST_F(LedgerE2ETest, EachUpdateIsRecordedAndHistoryFindsItInTextJsonAndCsv) {
    test::SimProcess good(test::SimAt(ModuleAt(1)));
    test::SimProcess bad(test::SimAt(ModuleAt(2), {"--bad-verify"}));
    ASSERT_EQ(Run(Update(1)).status, 0);
    ASSERT_EQ(Run(Update(2)).status, 5);
    const auto rows = History();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["address"], ModuleAt(2)) << "newest first";
    EXPECT_EQ(rows[0]["result"], "failed");
    EXPECT_EQ(rows[0]["exitCode"], 5);
    EXPECT_EQ(rows[0]["leftIn"], "in its bootloader, its flash not the image");
    EXPECT_EQ(rows[1]["result"], "done");
    EXPECT_EQ(rows[1]["versionAfter"], "1.06");
    EXPECT_EQ(rows[1]["tries"], 1);
    EXPECT_EQ(rows[1]["sha256"].get<std::string>().size(), 64u);
    EXPECT_EQ(rows[1]["program"], "ostrel-cli");
    EXPECT_EQ(History({"--result", "failed"}).size(), 1u);
    EXPECT_EQ(History({"--ip", ModuleAt(1)}).size(), 1u);
    EXPECT_EQ(History({"--since", "2999-01-01"}).size(), 0u);
    EXPECT_EQ(History({"--limit", "1"}).size(), 1u);
    const test::CliRun csv = Run({"history", "--csv"});
    EXPECT_EQ(csv.out.rfind("id,started,ended,operation,address,mac,", 0), 0u) << csv.out;
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 3);
    EXPECT_NE(Run({"history"}).out.find(ModuleAt(1) + "  00-50-C2-12-34-56  done (0)"),
              std::string::npos);
    EXPECT_EQ(Run({"history", "--since", "yesterday"}).status, 2);
}

TEST_F(LedgerE2ETest, AnUpdateStoppedOrKilledLeavesItsRowInterruptedAndTheFileWhole) {
    test::SimProcess sim(test::SimAt(ModuleAt(1)));
    for (const int signal : {SIGINT, SIGKILL}) {
        auto cli = console.Start({"--ledger", ledgerPath, "update", firmware, "--ip", ModuleAt(1)});
        ASSERT_TRUE(sim.WaitForLog("wake", "-", signal == SIGINT ? 1 : 2, 5s));
        cli->Signal(signal);
        cli->WaitForExit(5s);
    }
    const auto rows = History();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["result"], "interrupted") << "killed: as it began";
    EXPECT_EQ(rows[0]["ended"], "");
    EXPECT_EQ(rows[1]["result"], "interrupted") << "Ctrl-C: as it ended";
    EXPECT_EQ(rows[1]["exitCode"], 130);
    EXPECT_EQ(Scalar("PRAGMA integrity_check"), "ok");
}

TEST_F(LedgerE2ETest, TwoProgramsWritingAtOnceKeepTheirRows) {
    test::SimProcess first(test::SimAt(ModuleAt(1)));
    test::SimProcess second(test::SimAt(ModuleAt(2)));
    test::TempDir otherDir;
    test::CliLauncher other{OSTREL_CLI_PATH, otherDir};
    auto running = other.Start({"--ledger", ledgerPath, "update", firmware, "--ip", ModuleAt(2)});
    const test::CliRun mine = Run(Update(1));
    EXPECT_EQ(mine.status, 0);
    EXPECT_EQ(running->WaitForExit(30s), 0);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM updates WHERE result = 'done'"), "2")
        << mine.err << other.Err();
}

TEST_F(LedgerE2ETest, ALedgerThatCannotBeUsedIsAWarningUnlessItIsRequired) {
    test::SimProcess sim(test::SimAt(ModuleAt(1)));
    ledgerPath = dir.Write("notes.txt", std::string(2048, 'n'));
    const test::CliRun warned = Run(Update(1));
    EXPECT_EQ(warned.status, 0);
    EXPECT_NE(warned.err.find("warning: the ledger " + ledgerPath +
                              " cannot be used: file is not "
                              "a database"),
              std::string::npos)
        << warned.err;
    const std::size_t heard = sim.LogLines().size();
    std::vector<std::string> required = Update(1);
    required.insert(required.begin(), "--require-ledger");
    EXPECT_EQ(Run(required).status, 1);
    EXPECT_EQ(sim.LogLines().size(), heard) << "nothing was sent";
    EXPECT_EQ(test::ReadFile(ledgerPath), std::string(2048, 'n')) << "the file is left alone";
}

TEST_F(LedgerE2ETest, AModuleOnTheVersionAskedForIsLeftAloneAndRecordedUnchanged) {
    test::SimProcess sim(test::SimAt(ModuleAt(1)));
    std::vector<std::string> args = Update(1);
    args.insert(args.end(), {"--unless-version", "1.06"});
    ASSERT_EQ(Run(args).status, 0);
    EXPECT_TRUE(sim.LogLines("wake", "-").empty()) << "never woken";
    const auto rows = History();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["result"], "unchanged");
    EXPECT_EQ(rows[0]["versionBefore"], "1.06");
}

TEST_F(LedgerE2ETest, NamesFromTheNetworkAreKeptAsTheyCameAndPrintedHarmless) {
    test::SimProcess sim(test::SimAt(ModuleAt(1), {"--name", "\x1b[2J\x07"}));
    ASSERT_EQ(Run(Update(1)).status, 0);
    EXPECT_EQ(Scalar("SELECT hex(name_after) FROM updates"), "1B5B324A07");
    const test::CliRun text = Run({"history"});
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos) << text.out;
    EXPECT_EQ(Run({"--json", "history"}).JsonLines().at(0)["nameAfter"], "\x1b[2J\x07");
}

} // namespace
} // namespace ostrel
