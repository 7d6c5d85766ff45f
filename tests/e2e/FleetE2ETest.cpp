// Fleet updates by the built ostrel-cli: many simulated modules on loopback, each on a loopback
// address of its own and the module port, side by side.
#include "tests/support/CliProcess.h"
#include "tests/support/FlashCheck.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

using test::ReadFile;

// This test program's loopback addresses: module n at 127.0.37.n.
std::string ModuleAt(int n) {
    return "127.0.37." + std::to_string(n);
}

double LogTime(const std::string& line) {
    return std::stod(line.substr(0, line.find(' ')));
}

class FleetE2ETest : public ::testing::Test {
protected:
    void StartModules(const std::vector<std::vector<std::string>>& faults) {
        for (std::size_t i = 0; i < faults.size(); ++i) {
            sims.push_back(std::make_unique<test::SimProcess>(
                test::SimAt(ModuleAt(static_cast<int>(i) + 1), faults[i])));
            // A simulator's log counts from its own start, which is just before it says so.
            started.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - epoch).count());
        }
    }
    std::vector<std::string> AllModules() const {
        std::vector<std::string> args;
        for (std::size_t i = 0; i < sims.size(); ++i) {
            args.insert(args.end(), {"--ip", ModuleAt(static_cast<int>(i) + 1)});
        }
        return args;
    }
    std::unique_ptr<test::ChildProcess> Start(const std::vector<std::string>& args) {
        return console.Start(args);
    }
    std::optional<int> Run(const std::vector<std::string>& args,
                           std::chrono::milliseconds limit = 60s) {
        return console.Run(args, limit).status;
    }
    ::testing::AssertionResult FlashHolds(std::size_t module) const {
        return test::FlashHoldsTheImage(sims[module]->Flash(), firmware);
    }
    // The report's rows by module address.
    std::map<std::string, nlohmann::json> ReportRows(const std::string& path) const {
        std::map<std::string, nlohmann::json> rows;
        for (const auto& row : nlohmann::json::parse(ReadFile(path))) {
            rows[row["address"]] = row;
        }
        return rows;
    }

    test::TempDir dir;
    test::CliLauncher console{OSTREL_CLI_PATH, dir};
    std::string firmware = dir.Write("firmware.hex", test::MakeFirmware(8 * 1024).Text());
    std::vector<std::unique_ptr<test::SimProcess>> sims;
    const std::chrono::steady_clock::time_point epoch = std::chrono::steady_clock::now();
    std::vector<double> started; // each simulator's start, in seconds from epoch
};

// Sixteen modules, good and bad: the report and the exit code say exactly which failed.
TEST_F(FleetE2ETest, SixteenModulesAndAReportOfEach) {
    std::vector<std::vector<std::string>> faults(16);
    faults[10] = {"--silent"};
    faults[11] = {"--bad-verify"};
    faults[12] = {"--loss", "0.05", "--seed", "3"};
    faults[13] = {"--loss", "0.1", "--seed", "5"};
    faults[14] = {"--lose-erases", "3"}; // its whole first try
    faults[15] = {"--duplicate"};
    StartModules(faults);
    const std::string report = dir.File("report.json").string();
    std::vector<std::string> args = {"--json",          "update", firmware,   "--retries", "2",
                                     "--timeout-scale", "0.1",    "--report", report};
    const auto modules = AllModules();
    args.insert(args.end(), modules.begin(), modules.end());
    EXPECT_EQ(Run(args, 120s), 8) << ReadFile(dir.File("err.txt"));

    const auto rows = ReportRows(report);
    ASSERT_EQ(rows.size(), 16u);
    const std::map<int, std::pair<int, unsigned>> bad = {{11, {4, 3}},
                                                         {12, {5, 3}}}; // exit code, tries
    for (int n = 1; n <= 16; ++n) {
        const auto& row = rows.at(ModuleAt(n));
        const auto expected =
            bad.contains(n) ? bad.at(n) : std::pair<int, unsigned>{0, n == 15 ? 2u : 1u};
        EXPECT_EQ(row["exitCode"], expected.first) << n;
        EXPECT_EQ(row["tries"], expected.second) << n;
        EXPECT_EQ(row["result"], expected.first == 0 ? "done" : "failed") << n;
        EXPECT_EQ(row["sha256"].get<std::string>().size(), 64u);
        EXPECT_EQ(row["start"], "0x9D000000");
        if (expected.first == 0) {
            EXPECT_EQ(row["versionBefore"], "1.06") << n;
            EXPECT_EQ(row["versionAfter"], "1.06") << n;
            EXPECT_EQ(row["mac"], "00-50-C2-12-34-56") << n;
            EXPECT_TRUE(FlashHolds(static_cast<std::size_t>(n - 1))) << n;
        }
    }
    // The JSON ends with one summary line.
    std::istringstream out(ReadFile(dir.File("out.txt")));
    std::string last;
    for (std::string line; std::getline(out, line);) {
        last = line;
    }
    const auto summary = nlohmann::json::parse(last);
    EXPECT_EQ(summary["event"], "summary");
    EXPECT_EQ(summary["modules"], 16);
    EXPECT_EQ(summary["done"], 14);
    EXPECT_EQ(summary["failed"], 2);
}

TEST_F(FleetE2ETest, ACsvReportHasOneRowPerModule) {
    StartModules({{}, {"--bad-verify"}});
    const std::string report = dir.File("report.csv").string();
    std::vector<std::string> args = {"update", firmware, "--report", report};
    const auto modules = AllModules();
    args.insert(args.end(), modules.begin(), modules.end());
    EXPECT_EQ(Run(args), 8);
    std::istringstream csv(ReadFile(report));
    std::vector<std::string> lines;
    for (std::string line; std::getline(csv, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "address,mac,name,version_before,version_after,result,exit_code,tries,"
                        "seconds,start,length,crc,sha256,error");
    EXPECT_TRUE(
        lines[1].starts_with(ModuleAt(1) + ",00-50-C2-12-34-56,VEXA-IO,1.06,1.06,done,0,1,"))
        << lines[1];
    EXPECT_TRUE(lines[2].starts_with(ModuleAt(2) + ",00-50-C2-12-34-56,VEXA-IO,1.06,,failed,5,1,"))
        << lines[2];
}

TEST_F(FleetE2ETest, AllFailingAlikeGiveTheirOwnCode) {
    StartModules({{"--bad-verify"}, {"--bad-verify"}});
    std::vector<std::string> args = {"update", firmware};
    const auto modules = AllModules();
    args.insert(args.end(), modules.begin(), modules.end());
    EXPECT_EQ(Run(args), 5);
}

// No more than four modules between their wake and their end at any moment.
TEST_F(FleetE2ETest, ParallelCapsTheModulesAtOnce) {
    StartModules(std::vector<std::vector<std::string>>(8));
    std::vector<std::string> args = {"update", firmware, "--parallel", "4"};
    const auto modules = AllModules();
    args.insert(args.end(), modules.begin(), modules.end());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Run(args), 0) << ReadFile(dir.File("err.txt"));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Each module's time from its wake to its last datagram, on one clock: the logs' times
    // count from each simulator's own start, so they are moved by when each one started.
    std::vector<std::pair<double, double>> spans;
    for (std::size_t i = 0; i < sims.size(); ++i) {
        const auto lines = sims[i]->LogLines();
        const auto wake = sims[i]->LogLines("wake", "-");
        ASSERT_EQ(wake.size(), 1u);
        spans.emplace_back(started[i] + LogTime(wake.front()), started[i] + LogTime(lines.back()));
    }
    int most = 0;
    for (const auto& [from, to] : spans) {
        const int at = static_cast<int>(std::ranges::count_if(spans, [&](const auto& other) {
            return other.first <= from + 0.05 && other.second > from + 0.05;
        }));
        most = std::max(most, at);
    }
    EXPECT_LE(most, 4);
    EXPECT_LT(seconds, 3 * 3.0) << "in two rounds of four, not eight one after another";
}

TEST_F(FleetE2ETest, SkipSameLeavesUnchangedModulesAlone) {
    StartModules({{}, {}, {}});
    std::vector<std::string> args = {"update", firmware};
    const auto modules = AllModules();
    args.insert(args.end(), modules.begin(), modules.end());
    ASSERT_EQ(Run(args), 0);
    args.push_back("--skip-same");
    args.insert(args.begin(), "--json");
    ASSERT_EQ(Run(args), 0);
    const std::string out = ReadFile(dir.File("out.txt"));
    // Each: start, the phases wake, check, run and confirm, end; then the summary.
    EXPECT_EQ(std::ranges::count(out, '\n'), 3 * 6 + 1) << out;
    for (const auto& sim : sims) {
        EXPECT_EQ(sim->LogLines("boot", "Erase").size(), 1u) << "erased the first time only";
    }
    EXPECT_NE(out.find("\"unchanged\":3"), std::string::npos) << out;
}

TEST_F(FleetE2ETest, ATargetsFileNamesEachModuleOnce) {
    StartModules({{}, {}});
    const std::string list =
        dir.Write("modules.txt", "# the line\n" + ModuleAt(1) + "\n\n  " + ModuleAt(2) +
                                     "  # the second\n" + ModuleAt(1) + "\n");
    EXPECT_EQ(Run({"update", firmware, "--targets", list, "--ip", ModuleAt(2)}), 0);
    for (const auto& sim : sims) {
        EXPECT_EQ(sim->LogLines("wake", "-").size(), 1u) << "each once";
    }
    const std::string bad = dir.Write("bad.txt", ModuleAt(1) + "\n10.0.0.300\n");
    EXPECT_EQ(Run({"update", firmware, "--targets", bad}), 2);
    EXPECT_NE(ReadFile(dir.File("err.txt")).find("bad.txt:2:"), std::string::npos);
}

TEST_F(FleetE2ETest, CtrlCStillWritesTheReportWithTheModulesLeftInterrupted) {
    StartModules({{}, {}, {}});
    const std::string report = dir.File("report.json").string();
    std::vector<std::string> args = {"update", firmware, "--report", report, "--parallel", "2"};
    const auto modules = AllModules();
    args.insert(args.end(), modules.begin(), modules.end());
    auto cli = Start(args);
    ASSERT_TRUE(sims[0]->WaitForLog("wake", "-", 1, 5s));
    std::this_thread::sleep_for(300ms);
    cli->Signal(SIGINT);
    EXPECT_EQ(cli->WaitForExit(5s), 130);
    const auto rows = ReportRows(report);
    ASSERT_EQ(rows.size(), 3u);
    for (const auto& [address, row] : rows) {
        EXPECT_EQ(row["result"], "interrupted") << address;
        EXPECT_EQ(row["exitCode"], 130);
    }
    EXPECT_TRUE(sims[2]->LogLines("wake", "-").empty()) << "the third never started";
}

} // namespace
} // namespace ostrel
