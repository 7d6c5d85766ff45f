// Many simulated modules in one vexa-sim process against the console: the cases of the
// single-module tests with --modules 1 and --modules 8 end alike, --faulty K spoils exactly
// K, and (label fleet128) a fleet of 128 modules with 16 faulty of four kinds: every sound one
// verified with the image in its flash, every faulty one with its own code.
#include "tests/support/ChildProcess.h"
#include "tests/support/CliProcess.h"
#include "tests/support/FlashCheck.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <map>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

// One simulator process: its first module's address, how many, and its options.
struct Simulators {
    int firstHost; // 127.0.<block>.<firstHost>
    unsigned modules;
    std::vector<std::string> args;
};

std::string Address(int block, int host) {
    return "127.0." + std::to_string(block) + "." + std::to_string(host);
}

class MultiModuleTest : public ::testing::Test {
protected:
    // Updates every module of the processes in one fleet run; the exit code of each module by
    // its address, each success checked in its flash.
    std::map<std::string, int> UpdateAll(int block, const std::vector<Simulators>& processes,
                                         std::size_t firmwareBytes = 2048) {
        const std::string firmware =
            dir.Write("firmware.hex", test::MakeFirmware(firmwareBytes).Text());
        std::vector<std::unique_ptr<test::SimProcess>> sims;
        std::vector<std::string> args{"--quiet", "update", firmware, "--report",
                                      dir.File("report.json").string()};
        for (const Simulators& process : processes) {
            auto options = test::SimAt(Address(block, process.firstHost), process.args);
            options.args.insert(options.args.end(), {"--modules", std::to_string(process.modules)});
            sims.push_back(std::make_unique<test::SimProcess>(options));
            for (unsigned k = 0; k < process.modules; ++k) {
                args.insert(args.end(), {"--ip", Address(block, process.firstHost + int(k))});
            }
        }
        const auto status = test::CliLauncher(OSTREL_CLI_PATH, dir).Run(args, 240s).status;
        EXPECT_TRUE(status.has_value()) << "the fleet ends";
        std::map<std::string, int> codes;
        if (!status) {
            return codes;
        }
        for (const auto& row : nlohmann::json::parse(test::ReadFile(dir.File("report.json")))) {
            codes[row["address"]] = row["exitCode"];
        }
        for (std::size_t p = 0; p < processes.size(); ++p) {
            EXPECT_EQ(sims[p]->Stop(), 0);
            for (unsigned k = 1; k <= processes[p].modules; ++k) {
                const std::string address = Address(block, processes[p].firstHost + int(k) - 1);
                const auto flash = processes[p].modules == 1 ? sims[p]->Flash() : sims[p]->Flash(k);
                if (codes[address] == 0) {
                    EXPECT_TRUE(test::FlashHoldsTheImage(flash, firmware)) << address;
                }
            }
        }
        return codes;
    }

    test::TempDir dir;
};

TEST_F(MultiModuleTest, OneModuleAndEightEndAlike) {
    const struct {
        const char* name;
        std::vector<std::string> faults;
        int code;
    } cases[] = {{"sound", {}, 0},
                 {"bad verify", {"--bad-verify"}, 5},
                 {"silent", {"--silent"}, 4},
                 {"duplicates", {"--duplicate"}, 0},
                 {"no application after Run", {"--no-app-after-run"}, 6}};
    for (const auto& row : cases) {
        for (const unsigned modules : {1u, 8u}) {
            SCOPED_TRACE(std::string(row.name) + ", --modules " + std::to_string(modules));
            const auto codes = UpdateAll(50, {{1, modules, row.faults}});
            ASSERT_EQ(codes.size(), modules);
            for (const auto& [address, code] : codes) {
                EXPECT_EQ(code, row.code) << address;
            }
        }
    }
}

TEST_F(MultiModuleTest, FaultyKSpoilsTheFirstKAndEachHasItsOwnMac) {
    const auto codes = UpdateAll(51, {{1, 8, {"--faulty", "3", "--bad-verify"}}});
    for (int host = 1; host <= 8; ++host) {
        EXPECT_EQ(codes.at(Address(51, host)), host <= 3 ? 5 : 0) << host;
    }
    const auto report = nlohmann::json::parse(test::ReadFile(dir.File("report.json")));
    std::set<std::string> macs;
    for (const auto& row : report) {
        macs.insert(row["mac"].get<std::string>());
    }
    EXPECT_EQ(macs.size(), 8u);
    EXPECT_TRUE(macs.contains("00-50-C2-12-34-5D")) << "the base MAC counted up by 7";
}

// More modules at once than the hard limit on open files allows: refused before anything
// goes out, with how many would fit.
TEST_F(MultiModuleTest, AFleetBeyondTheHardFileLimitIsRefusedBeforeAnythingIsSent) {
    test::SimProcess sim(test::SimAt(Address(53, 1), {"--modules", "40"}));
    std::string command = "ulimit -Sn 100 && ulimit -Hn 100 && exec " OSTREL_CLI_PATH " update " +
                          dir.Write("firmware.hex", test::MakeFirmware(512).Text());
    for (int host = 1; host <= 40; ++host) {
        command += " --ip " + Address(53, host);
    }
    test::ChildProcess cli("/bin/sh", {"-c", command},
                           {.outputPath = dir.File("out.txt").string()});
    EXPECT_EQ(cli.WaitForExit(10s), 1);
    EXPECT_NE(
        test::ReadFile(dir.File("out.txt"))
            .find("40 modules at once need 224 open files, but "
                  "this process may open at most 100 (the hard limit, ulimit -Hn): raise it, or "
                  "update at most 9 at once with --parallel"),
        std::string::npos)
        << test::ReadFile(dir.File("out.txt"));
    EXPECT_TRUE(sim.LogLines().empty()) << "nothing was sent";
}

class FleetOf128Test : public MultiModuleTest {};

TEST_F(FleetOf128Test, SixteenFaultyOfFourKinds) {
    const std::vector<std::vector<std::string>> kinds = {
        {"--loss", "0.4"}, {"--duplicate", "--loss", "0.05"}, {"--silent"}, {"--bad-verify"}};
    std::vector<Simulators> processes;
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        auto args = kinds[i];
        args.insert(args.end(), {"--faulty", "4"});
        processes.push_back({1 + 32 * int(i), 32, args});
    }
    const auto codes = UpdateAll(52, processes, 8192);
    ASSERT_EQ(codes.size(), 128u) << "the report has a row per module";
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        for (int k = 0; k < 32; ++k) {
            const int code = codes.at(Address(52, 1 + 32 * int(i) + k));
            if (k >= 4) {
                EXPECT_EQ(code, 0) << "sound module " << k + 1 << " of " << kinds[i][0];
            } else if (kinds[i][0] == "--silent") {
                EXPECT_EQ(code, 4);
            } else if (kinds[i][0] == "--bad-verify") {
                EXPECT_EQ(code, 5);
            } // lossy and duplicating modules may still be verified: only never wrongly
        }
    }
}

} // namespace
} // namespace ostrel
