// Updates against modules on bad networks: random loss of 5, 10 and 20 %, replies 600 ms late
// (after the 500 ms time-out of a Program frame), duplicated replies, and duplicates with loss,
// over several seeds, all in one fleet run. Every module must end either verified, its flash
// the image, or with a failure code: a success with another flash fails the test. The counts
// per row are printed. OSTREL_FAULT_SEEDS sets the seeds per row (3 in CI, at most 60).
#include "image/HexImage.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

struct FaultRow {
    std::string name;
    std::vector<std::string> faults;
};

int SeedsPerRow() {
    const char* text = std::getenv("OSTREL_FAULT_SEEDS");
    const int seeds = text != nullptr ? std::atoi(text) : 3;
    return std::clamp(seeds, 1, 60);
}

std::vector<FaultRow> Rows() {
    const int seeds = SeedsPerRow();
    std::vector<FaultRow> rows;
    unsigned seed = 1;
    for (const char* loss : {"0.05", "0.1", "0.2"}) {
        for (int i = 0; i < seeds; ++i) {
            rows.push_back(
                {std::string("loss ") + loss, {"--loss", loss, "--seed", std::to_string(seed++)}});
        }
    }
    rows.push_back({"late 600 ms", {"--delay", "600"}});
    rows.push_back({"duplicates", {"--duplicate"}});
    for (int i = 0; i < seeds; ++i) {
        rows.push_back({"duplicates, loss 0.1",
                        {"--duplicate", "--loss", "0.1", "--seed", std::to_string(seed++)}});
    }
    return rows;
}

std::string ModuleAt(std::size_t n) {
    return "127.0.38." + std::to_string(n + 1); // this test program's own loopback addresses
}

TEST(FaultMatrixTest, EveryModuleEndsVerifiedOrFailedNeverWrong) {
    const test::TempDir dir;
    const std::string firmware = dir.Write("firmware.hex", test::MakeFirmware(2048).Text());
    HexImage image;
    ASSERT_TRUE(image.Open(firmware));
    image.Build();

    const auto rows = Rows();
    std::vector<std::unique_ptr<test::SimProcess>> sims;
    std::vector<std::string> args = {"update", firmware, "--report",
                                     dir.File("report.json").string()};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        sims.push_back(
            std::make_unique<test::SimProcess>(test::SimAt(ModuleAt(i), rows[i].faults)));
        args.insert(args.end(), {"--ip", ModuleAt(i)});
    }
    test::ChildOptions options;
    options.outputPath = dir.File("out.txt").string();
    test::ChildProcess cli(OSTREL_CLI_PATH, args, options);
    const auto status = cli.WaitForExit(240s);
    ASSERT_TRUE(status.has_value()) << "the fleet ends";
    EXPECT_TRUE(*status == 0 || *status == 8 || (*status >= 3 && *status <= 6)) << *status;

    const auto report = nlohmann::json::parse(test::ReadFile(dir.File("report.json")));
    std::map<std::string, nlohmann::json> byAddress;
    for (const auto& row : report) {
        byAddress[row["address"]] = row;
    }
    std::map<std::string, std::map<std::string, int>> counts; // row name: outcome, count
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(sims[i]->Stop(), 0);
        const auto& row = byAddress.at(ModuleAt(i));
        const auto flash = sims[i]->Flash();
        const bool right = flash.size() == HexImage::imageSize &&
                           std::equal(flash.begin(), flash.end(), image.Image().begin());
        const bool done = row["exitCode"] == 0;
        if (done) {
            EXPECT_TRUE(right) << rows[i].name << " at " << ModuleAt(i)
                               << ": a success with a flash that is not the image";
        } else {
            EXPECT_GE(row["exitCode"].get<int>(), 3) << "a failure has its code";
            std::printf("%s at %s: %s\n", rows[i].name.c_str(), ModuleAt(i).c_str(),
                        row["error"].get<std::string>().c_str());
        }
        ++counts[rows[i].name][done ? "verified" : "failed " + row["exitCode"].dump()];
    }
    for (const auto& [name, outcomes] : counts) {
        std::string line;
        for (const auto& [outcome, count] : outcomes) {
            line += " " + std::to_string(count) + " " + outcome;
        }
        std::printf("%-22s%s\n", name.c_str(), line.c_str());
    }
}

} // namespace
} // namespace ostrel
