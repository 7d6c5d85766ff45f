// The console's discovery against simulated modules behind two interfaces of network
// namespaces. Broadcasts must never leave this machine, so this program refuses to run in the
// machine's own network namespace: two-subnets-in-namespaces.sh builds the namespaces, starts
// the modules and runs it in the program's one.
#include "tests/support/CliProcess.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/NetworkNamespace.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

using test::ReadFile;

std::vector<std::string> SimLogs() {
    std::vector<std::string> logs;
    const char* list = std::getenv("OSTREL_SIM_LOGS");
    std::stringstream in(list != nullptr ? list : "");
    for (std::string path; std::getline(in, path, ':');) {
        logs.push_back(path);
    }
    return logs;
}

// Lines of a module's log that hold the text.
int Count(const std::string& log, const std::string& text) {
    std::ifstream in(log);
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        count += line.find(text) != std::string::npos;
    }
    return count;
}

int Reads(const std::string& log) {
    return Count(log, " app read ");
}

int Wakes(const std::string& log) {
    return Count(log, " wake - ");
}

class CliDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(test::InALaunchersNetworkNamespace())
            << "discovery broadcasts: run only inside the namespaces the script makes";
        ASSERT_EQ(SimLogs().size(), 4u);
    }

    // The modules a discovery listed, by name.
    std::map<std::string, nlohmann::json> Discover(const std::vector<std::string>& args,
                                                   int& status) {
        std::vector<std::string> all = {"--json", "discover", "--wait", "1"};
        all.insert(all.end(), args.begin(), args.end());
        const test::CliRun run = console.Run(all, 10s);
        status = run.status.value_or(-1);
        std::map<std::string, nlohmann::json> modules;
        for (const auto& event : run.JsonLines()) {
            if (event["event"] == "module") {
                modules[event["name"]] = event;
            }
        }
        return modules;
    }

    // Runs an update of the module or modules the arguments choose.
    int Update(const std::vector<std::string>& args) {
        std::vector<std::string> all = {"update", firmware, "--wait", "1"};
        all.insert(all.end(), args.begin(), args.end());
        return console.Run(all, 60s).status.value_or(-1);
    }

    test::TempDir dir;
    test::CliLauncher console{OSTREL_CLI_PATH, dir};
    std::string firmware = dir.Write("firmware.hex", test::MakeFirmware(4096).Text());
};

TEST_F(CliDiscoveryTest, FindsTheModulesOnBothInterfacesWithTheirFlags) {
    int status = -1;
    const auto modules = Discover({}, status);
    ASSERT_EQ(status, 0) << ReadFile(dir.File("err.txt"));
    ASSERT_EQ(modules.size(), 4u) << ReadFile(dir.File("out.txt"));
    // The addresses were added without a broadcast address: the subnet's is asked.
    EXPECT_NE(ReadFile(dir.File("err.txt")).find("broadcast 10.71.1.255"), std::string::npos)
        << ReadFile(dir.File("err.txt"));
    EXPECT_EQ(modules.at("M1")["interface"], "eth0");
    EXPECT_EQ(modules.at("M2")["interface"], "eth1");
    EXPECT_EQ(modules.at("M3")["interface"], "eth1");
    EXPECT_EQ(modules.at("M4")["interface"], "eth0");
    EXPECT_EQ(modules.at("M2")["address"], "10.71.2.22");
    EXPECT_TRUE(modules.at("M2")["addressShared"]);
    EXPECT_TRUE(modules.at("M3")["addressShared"]);
    EXPECT_FALSE(modules.at("M1")["addressShared"]);
    EXPECT_TRUE(modules.at("M4")["outsideSubnet"]);
    EXPECT_FALSE(modules.at("M1")["outsideSubnet"]);
    EXPECT_EQ(modules.at("M1")["mac"], "00-50-C2-00-01-21");
}

TEST_F(CliDiscoveryTest, AnInterfaceNamedLimitsTheRequestsToIt) {
    const auto logs = SimLogs();
    std::vector<int> before;
    for (const auto& log : logs) {
        before.push_back(Reads(log));
    }
    int status = -1;
    const auto modules = Discover({"--interface", "eth0"}, status);
    ASSERT_EQ(status, 0) << ReadFile(dir.File("err.txt"));
    EXPECT_EQ(modules.size(), 2u);
    EXPECT_TRUE(modules.contains("M1"));
    EXPECT_TRUE(modules.contains("M4"));
    EXPECT_GT(Reads(logs[0]), before[0]);
    EXPECT_EQ(Reads(logs[1]), before[1]) << "nothing went out of eth1";
    EXPECT_EQ(Reads(logs[2]), before[2]);
}

// The ledger keeps what each scan heard: the first marks every module new, one on an interface
// no longer asked is "not answering", and a scan that hears the same again changes nothing.
TEST_F(CliDiscoveryTest, InventoryScansAndTellsWhatChanged) {
    const std::string ledger = dir.File("ledger.sqlite3").string();
    const auto inventory = [&](std::vector<std::string> args) {
        args.insert(args.begin(),
                    {"--ledger", ledger, "--json", "inventory", "--scan", "--wait", "1"});
        std::map<std::string, std::string> changes;
        for (const auto& module : console.Run(args, 10s).JsonLines()) {
            changes[module["name"]] = module["changes"];
        }
        return changes;
    };
    EXPECT_EQ(inventory({}), (std::map<std::string, std::string>{
                                 {"M1", "new"}, {"M2", "new"}, {"M3", "new"}, {"M4", "new"}}));
    const auto second = inventory({"--interface", "eth0"});
    EXPECT_EQ(second.at("M1"), "");
    EXPECT_EQ(second.at("M2"), "not answering");
}

TEST_F(CliDiscoveryTest, AnAddressNamedIsAskedDirectly) {
    int status = -1;
    const auto modules = Discover({"--interface", "eth0", "--to", "10.71.2.23"}, status);
    ASSERT_EQ(status, 0);
    EXPECT_TRUE(modules.contains("M3")) << "asked by its address on the other subnet";
    EXPECT_EQ(modules.size(), 3u);
}

// Modules chosen by discovery: by name, by a MAC prefix, by a MAC in a targets file.
TEST_F(CliDiscoveryTest, UpdatesTheModulesAMatchChooses) {
    const auto logs = SimLogs();
    EXPECT_EQ(
        Update({"--interface", "eth0", "--match", "mac=00-50-c2-00-01", "--match", "name=M1"}), 0)
        << ReadFile(dir.File("err.txt"));
    EXPECT_EQ(Wakes(logs[0]), 1) << "M1, chosen by both";
    EXPECT_EQ(Wakes(logs[3]), 0) << "M4 has the MAC prefix, not the name";
    EXPECT_EQ(Wakes(logs[1]) + Wakes(logs[2]), 0);
}

TEST_F(CliDiscoveryTest, AMacInATargetsFileIsFoundByDiscovery) {
    const auto logs = SimLogs();
    const int before = Wakes(logs[0]);
    const std::string list = dir.Write("modules.txt", "# M1 by its MAC\n00:50:C2:00:01:21\n");
    EXPECT_EQ(Update({"--targets", list}), 0) << ReadFile(dir.File("err.txt"));
    EXPECT_EQ(Wakes(logs[0]), before + 1);
    const std::string unknown = dir.Write("unknown.txt", "00-50-C2-99-99-99\n");
    EXPECT_EQ(Update({"--targets", unknown}), 4);
    EXPECT_NE(ReadFile(dir.File("err.txt")).find("no module with MAC 00-50-C2-99-99-99"),
              std::string::npos);
}

TEST_F(CliDiscoveryTest, TwoMacsWithOneAddressAreRefusedBeforeAnythingIsSent) {
    const auto logs = SimLogs();
    EXPECT_EQ(Update({"--all", "--interface", "eth1"}), 1);
    EXPECT_NE(ReadFile(dir.File("err.txt")).find("all answer at 10.71.2.22"), std::string::npos)
        << ReadFile(dir.File("err.txt"));
    EXPECT_EQ(Wakes(logs[1]) + Wakes(logs[2]), 0) << "no module was woken";
}

} // namespace
} // namespace ostrel
