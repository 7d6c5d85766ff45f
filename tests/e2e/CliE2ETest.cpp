// The built ostrel-cli, as scripts run it, against simulated modules on loopback.
#include "tests/support/CliProcess.h"
#include "tests/support/FlashCheck.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <thread>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

constexpr const char* moduleAddress = "127.0.35.1"; // this test program's own loopback address

using test::CliRun;
using test::ReadFile;

class CliE2ETest : public ::testing::Test {
protected:
    std::unique_ptr<test::ChildProcess> Start(const std::vector<std::string>& args) {
        return console.Start(args);
    }
    CliRun Run(const std::vector<std::string>& args, std::chrono::milliseconds limit = 30s) {
        return console.Run(args, limit);
    }
    std::unique_ptr<test::SimProcess> StartSim(std::vector<std::string> faults = {}) {
        return std::make_unique<test::SimProcess>(test::SimAt(moduleAddress, std::move(faults)));
    }
    std::string Firmware(std::size_t bytes = 16 * 1024, std::uint32_t seed = 1) {
        return dir.Write("firmware-" + std::to_string(seed) + ".hex",
                         test::MakeFirmware(bytes, 16, seed).Text());
    }
    static ::testing::AssertionResult FlashHolds(const test::SimProcess& sim,
                                                 const std::string& firmware) {
        return test::FlashHoldsTheImage(sim.Flash(), firmware);
    }

    test::TempDir dir;
    test::CliLauncher console{OSTREL_CLI_PATH, dir};
};

TEST_F(CliE2ETest, UpdatesConfirmsAndSaysSoInPlainLines) {
    const auto sim = StartSim();
    const std::string firmware = Firmware();
    const CliRun run = Run({"update", firmware, "--ip", moduleAddress});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(FlashHolds(*sim, firmware));
    for (const char* phase : {"waking the bootloader", "erasing", "programming 100%", "verifying",
                              "starting the application", "done in"}) {
        EXPECT_NE(run.out.find(phase), std::string::npos) << phase << "\n" << run.out;
    }
    EXPECT_NE(run.out.find("the application answers: VEXA-IO 1.06"), std::string::npos);
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << "no control characters in a log";
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    EXPECT_EQ(sim->LogLines("app", "read").size(), 1u) << "one read confirmed the application";
}

TEST_F(CliE2ETest, JsonLinesComeInOrderAndTheEndCarriesTheExitCode) {
    const auto sim = StartSim({"--drop-first", "1"});
    const std::string firmware = Firmware();
    // The first copy of each command is lost; shorter time-outs make the resends come sooner.
    const CliRun run =
        Run({"--json", "update", firmware, "--ip", moduleAddress, "--timeout-scale", "0.2"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = run.JsonLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines.front()["event"], "start");
    EXPECT_EQ(lines.back()["event"], "summary");
    EXPECT_EQ(lines.back()["exitCode"], 0);
    EXPECT_EQ(lines[lines.size() - 2]["event"], "end");
    std::vector<std::string> phases;
    bool retried = false;
    for (const auto& line : lines) {
        if (line["event"] == "summary") {
            continue;
        }
        EXPECT_EQ(line["module"], moduleAddress) << line.dump();
        if (line["event"] == "phase") {
            phases.push_back(line["phase"]);
        }
        retried = retried || line["event"] == "retry";
    }
    EXPECT_EQ(phases,
              (std::vector<std::string>{"wake", "erase", "program", "verify", "run", "confirm"}));
    EXPECT_TRUE(retried) << "the first copy of every command was lost";
    const auto end = run.End();
    EXPECT_EQ(end["result"], "done");
    EXPECT_EQ(end["exitCode"], 0);
    EXPECT_EQ(end["start"], "0x9D000000");
    EXPECT_EQ(end["length"], 16 * 1024);
    EXPECT_EQ(end["crc"], end["moduleCrc"]);
    EXPECT_EQ(end["version"], "1.06");
    EXPECT_GT(end["frames"].get<int>(), 0);
    EXPECT_NE(run.err.find("done in"), std::string::npos) << "human text on standard error";
}

// Each way an update fails has its exit code, and says where the module was left.
struct FailureRow {
    const char* name;
    std::vector<std::string> faults;
    std::vector<std::string> extra;
    int code;
    const char* says;
};

void PrintTo(const FailureRow& row, std::ostream* out) {
    *out << row.name;
}

class CliFailureTest : public CliE2ETest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(CliFailureTest, ExitsWithItsCode) {
    const auto sim = StartSim(GetParam().faults);
    std::vector<std::string> args = {"--json", "update", Firmware(4096), "--ip", moduleAddress};
    args.insert(args.end(), GetParam().extra.begin(), GetParam().extra.end());
    const CliRun run = Run(args, 40s);
    ASSERT_EQ(run.status, GetParam().code) << run.err;
    EXPECT_NE(run.err.find(GetParam().says), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("the module is left"), std::string::npos) << run.err;
    EXPECT_EQ(run.End()["exitCode"], GetParam().code);
    EXPECT_EQ(run.End()["result"], "failed");
    EXPECT_EQ(run.JsonLines().back()["exitCode"], GetParam().code) << "the summary's too";
    if (GetParam().code != 6) {
        EXPECT_TRUE(sim->LogLines("boot", "Run").empty()) << "a failed module is not started";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliFailureTest,
    ::testing::Values(
        FailureRow{"Silent", {"--silent"}, {"--timeout-scale", "0.1"}, 4, "no answer to Erase"},
        FailureRow{"WrongCrc", {"--bad-verify"}, {}, 5, "differs from the image's"},
        FailureRow{"NoApplicationAfterRun",
                   {"--no-app-after-run"},
                   {},
                   6,
                   "the application did not answer"},
        FailureRow{"PowerLostMidUpdate",
                   {"--power-loss-after", "3"},
                   {},
                   4,
                   "in its bootloader, partly programmed"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// Files that cannot be programmed: one message, exit 3, and no datagram at all.
struct BadFileRow {
    const char* name;
    std::function<std::string(test::TempDir&)> make;
    const char* says;
};

void PrintTo(const BadFileRow& row, std::ostream* out) {
    *out << row.name;
}

class CliBadFileTest : public CliE2ETest, public ::testing::WithParamInterface<BadFileRow> {};

TEST_P(CliBadFileTest, SaysWhyAndSendsNothing) {
    const auto sim = StartSim();
    const std::string file = GetParam().make(dir);
    const std::vector<std::vector<std::string>> commands = {
        {"update", file, "--ip", moduleAddress, "--timeout-scale", "0.1"},
        {"verify", file, "--ip", moduleAddress},
        {"plan", file}};
    for (const auto& command : commands) {
        const CliRun run = Run(command);
        EXPECT_EQ(run.status, 3) << command[0] << ": " << run.err;
        EXPECT_NE(run.err.find(GetParam().says), std::string::npos)
            << command[0] << ": " << run.err;
    }
    EXPECT_TRUE(sim->LogLines().empty()) << "the module never heard of it";
}

INSTANTIATE_TEST_SUITE_P(
    Files, CliBadFileTest,
    ::testing::Values(
        BadFileRow{"Missing", [](test::TempDir& d) { return d.File("none.hex").string(); },
                   "No such file"},
        BadFileRow{"Folder", [](test::TempDir& d) { return d.Path().string(); }, "is a folder"},
        BadFileRow{"Empty", [](test::TempDir& d) { return d.Write("empty.hex", ""); },
                   "holds no Intel HEX record"},
        BadFileRow{"OnlyComments",
                   [](test::TempDir& d) { return d.Write("notes.hex", "# one\n# two\n"); },
                   "holds no Intel HEX record"},
        BadFileRow{"Binary",
                   [](test::TempDir& d) {
                       return d.Write("app.bin", std::string("\x7F"
                                                             "ELF\x02\x01\0\0",
                                                             8));
                   },
                   "holds no Intel HEX record"},
        BadFileRow{"OnlyAnEndRecord",
                   [](test::TempDir& d) { return d.Write("end.hex", ":00000001FF\n"); },
                   "holds nothing to verify"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(CliE2ETest, AModuleThatLostPowerIsRescuedByATryFromTheWakeString) {
    const auto sim = StartSim({"--power-loss-after", "3", "--power-off", "1000"});
    const CliRun run =
        Run({"--json", "update", Firmware(4096), "--ip", moduleAddress, "--retries", "1"}, 40s);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = run.JsonLines();
    const auto again = std::ranges::find_if(
        lines, [](const nlohmann::json& line) { return line["event"] == "again"; });
    ASSERT_NE(again, lines.end()) << "a second try";
    // Back within the frame's attempts, it took the rest without the address the lost records
    // had set: Verify saw it.
    EXPECT_EQ((*again)["exitCode"], 5);
    EXPECT_EQ(run.End()["result"], "done");
    EXPECT_EQ(sim->LogLines("boot", "Erase").size(), 2u) << "erased again in its bootloader";
}

TEST_F(CliE2ETest, SkipSameLeavesAnUnchangedModuleAloneAndProgramsAChangedOne) {
    const auto sim = StartSim();
    const std::string firmware = Firmware();
    ASSERT_EQ(Run({"update", firmware, "--ip", moduleAddress}).status, 0);
    const std::size_t erases = sim->LogLines("boot", "Erase").size();

    CliRun same = Run({"--json", "update", firmware, "--ip", moduleAddress, "--skip-same"});
    ASSERT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(same.End()["result"], "unchanged");
    EXPECT_EQ(sim->LogLines("boot", "Erase").size(), erases) << "nothing erased";
    EXPECT_EQ(sim->LogLines("wake", "-").size(), 2u);

    const std::string other = Firmware(16 * 1024, 2);
    CliRun changed = Run({"--json", "update", other, "--ip", moduleAddress, "--skip-same"});
    ASSERT_EQ(changed.status, 0) << changed.err;
    EXPECT_EQ(changed.End()["result"], "done");
    EXPECT_EQ(sim->LogLines("wake", "-").size(), 3u) << "no second wake before the Erase";
    EXPECT_EQ(sim->LogLines("boot", "Erase").size(), erases + 1);
    EXPECT_TRUE(FlashHolds(*sim, other));
}

TEST_F(CliE2ETest, VerifyComparesWithoutErasingOrWriting) {
    const auto sim = StartSim();
    const std::string firmware = Firmware();
    const CliRun fresh = Run({"verify", firmware, "--ip", moduleAddress});
    EXPECT_EQ(fresh.status, 5) << fresh.err;
    ASSERT_EQ(Run({"update", firmware, "--ip", moduleAddress}).status, 0);
    const std::size_t erases = sim->LogLines("boot", "Erase").size();
    const std::size_t programs = sim->LogLines("boot", "Program").size();
    const CliRun same = Run({"--json", "verify", firmware, "--ip", moduleAddress});
    ASSERT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(same.End()["result"], "verified");
    EXPECT_EQ(sim->LogLines("boot", "Erase").size(), erases);
    EXPECT_EQ(sim->LogLines("boot", "Program").size(), programs);
}

TEST_F(CliE2ETest, PlanWarnsOfWhatIsSentButNotVerified) {
    test::HexFileWriter hex;
    hex.ExtendedLinear(0x1D00);
    hex.Data(0, std::vector<std::uint8_t>(16, 0x11));
    hex.ExtendedLinear(0x1FC0);
    hex.Data(0, std::vector<std::uint8_t>(16, 0x33));
    hex.Line(":0400000000000000FF"); // a wrong checksum
    hex.Line("");
    hex.ExtendedLinear(0x1D00);
    hex.Data(0x10, std::vector<std::uint8_t>(16, 0x22));
    hex.EndOfFile();
    const std::string file = dir.Write("odd.hex", hex.Text());
    const CliRun run = Run({"--json", "plan", file});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto plan = run.JsonLines().at(0);
    std::vector<std::string> kinds;
    for (const auto& warning : plan["warnings"]) {
        kinds.push_back(warning["kind"]);
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"bad-checksum", "build-ends-early", "boot-region"}));
    EXPECT_EQ(plan["verify"]["length"], 16);
    EXPECT_EQ(plan["programFrames"], 1);
    EXPECT_NE(run.err.find("warning: line 6 is not a record"), std::string::npos) << run.err;
    EXPECT_EQ(Run({"plan", dir.Write("none.hex", "# nothing\n")}).status, 3);
}

TEST_F(CliE2ETest, SettingsGetSetNothingChangedAndReadBack) {
    // Its identification padded with blanks, as the setup dialog writes one; padded with zero
    // bytes it would count as changed, as the dialog counts it.
    const auto sim = StartSim({"--ident", "Lab-7        "});
    CliRun get = Run({"--json", "settings", "get", "--ip", moduleAddress});
    ASSERT_EQ(get.status, 0) << get.err;
    const auto settings = get.JsonLines().at(0);
    EXPECT_EQ(settings["name"], "VEXA-IO");
    EXPECT_EQ(settings["port"], 6234);
    EXPECT_EQ(settings["pid"], "0B71");

    CliRun same = Run({"settings", "set", "--ip", moduleAddress, "--port", "6234"});
    ASSERT_EQ(same.status, 0) << same.err;
    EXPECT_NE(same.out.find("nothing changed"), std::string::npos);
    EXPECT_TRUE(sim->LogLines("app", "write").empty());

    CliRun set = Run({"--json", "settings", "set", "--ip", moduleAddress, "--port", "7001",
                      "--ident", "Hall-3", "--pid", "0B74"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.End()["port"], 7001);
    EXPECT_EQ(set.End()["identification"], "Hall-3       ");
    EXPECT_EQ(sim->LogLines("app", "write").size(), 1u);
}

TEST_F(CliE2ETest, AModuleThatIgnoresWritesReadsBackOtherwise) {
    const auto sim = StartSim({"--ignore-writes"});
    CliRun set = Run({"settings", "set", "--ip", moduleAddress, "--port", "7001"});
    EXPECT_EQ(set.status, 7) << set.err;
    EXPECT_NE(set.err.find("reads back another port"), std::string::npos) << set.err;
}

TEST_F(CliE2ETest, IdentSendsOneDatagram) {
    const auto sim = StartSim();
    EXPECT_EQ(Run({"ident", "on", "--ip", moduleAddress}).status, 0);
    ASSERT_TRUE(sim->WaitForLog("app", "ident", 1, 2s));
    EXPECT_EQ(sim->LogLines("app", "ident").size(), 1u);
}

TEST_F(CliE2ETest, NoAnswerToASettingsReadIsExitFour) {
    const auto sim = StartSim({"--silent"});
    const CliRun run = Run({"settings", "get", "--ip", moduleAddress}, 20s);
    EXPECT_EQ(run.status, 4) << run.err;
    EXPECT_EQ(sim->LogLines("app", "read").size(), 15u);
}

// Arguments a script can get wrong: one message and exit 2, before anything is sent.
TEST_F(CliE2ETest, UsageErrorsExitTwo) {
    const std::string firmware = Firmware(1024);
    const std::vector<std::vector<std::string>> rows = {
        {"update", firmware, "--ip", "0.0.0.0"},
        {"update", firmware, "--ip", "255.255.255.255"},
        {"update", firmware, "--ip", "192.168.2"},
        {"update", firmware},
        {"verify", firmware, "--ip", "1.2.3.4.5"},
        {"ident", "blink", "--ip", moduleAddress},
        {"ident", "on", "--ip", "255.255.255.255"},
        {"settings", "get", "--ip", "0.0.0.0"},
        {"settings", "set", "--ip", moduleAddress, "--port", "70000"},
        {"settings", "set", "--ip", moduleAddress, "--pid", "0B80"},
        {"settings", "set", "--ip", moduleAddress, "--ident", "fourteen chars"},
        {"settings", "set", "--ip", moduleAddress, "--mask", "255.0.255.0"},
        {"settings", "set", "--ip", moduleAddress, "--dhcp", "yes"},
        {"discover", "--wait", "0"},
        {"discover", "--wait", "-1"},
        {"discover", "--interface", "no-such-interface0"},
        {"discover", "--to", "10.0.0.300"},
        {"frobnicate"},
    };
    for (const auto& row : rows) {
        const CliRun run = Run(row, 10s);
        std::string line;
        for (const auto& arg : row) {
            line += arg + " ";
        }
        EXPECT_EQ(run.status, 2) << line << "\n" << run.err;
        EXPECT_FALSE(run.err.empty()) << line;
    }
}

TEST_F(CliE2ETest, CtrlCStopsTheLinkAndSaysWhereTheModuleWasLeft) {
    const auto sim = StartSim();
    auto cli = Start({"--json", "update", Firmware(), "--ip", moduleAddress});
    ASSERT_TRUE(sim->WaitForLog("wake", "-", 1, 5s));
    std::this_thread::sleep_for(500ms); // within the wake delay
    cli->Signal(SIGINT);
    EXPECT_EQ(cli->WaitForExit(5s), 130);
    const std::string err = ReadFile(dir.File("err.txt"));
    EXPECT_NE(err.find("interrupted in phase wake"), std::string::npos) << err;
    EXPECT_NE(err.find("the module is left in its bootloader, not erased"), std::string::npos);
    std::this_thread::sleep_for(3s); // past the moment Erase would have gone
    EXPECT_TRUE(sim->LogLines("boot", "Erase").empty()) << "the link stopped";
}

TEST_F(CliE2ETest, HelpAndVersionExitZero) {
    const CliRun version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("ostrel-cli ", 0), 0u) << version.out;
    EXPECT_EQ(Run({"--help"}).status, 0);
    EXPECT_EQ(Run({"update", "--help"}).status, 0);
}

} // namespace
} // namespace ostrel
