// The built program, as a script runs it: ostrel -A against a simulated module on loopback.
#include "image/HexImage.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <fstream>
#include <iterator>
#include <thread>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

constexpr const char* moduleAddress = "127.0.21.1"; // this test program's own loopback address

double LogTime(const std::string& line) {
    return std::stod(line.substr(0, line.find(' ')));
}

class UpdateE2ETest : public ::testing::Test {
protected:
    std::unique_ptr<test::SimProcess> StartSim(std::vector<std::string> faults = {}) {
        return std::make_unique<test::SimProcess>(test::SimAt(moduleAddress, std::move(faults)));
    }
    std::unique_ptr<test::ChildProcess> StartUpdate() {
        firmware = dir.Write("firmware.hex", test::MakeFirmware(16 * 1024, 16).Text());
        return StartProgram({"-A", std::string("-I") + moduleAddress, "-F" + firmware});
    }
    std::unique_ptr<test::ChildProcess> StartProgram(const std::vector<std::string>& args) {
        test::ChildOptions options;
        options.environment = {"QT_QPA_PLATFORM=offscreen",
                               "XDG_CONFIG_HOME=" + dir.Path().string()};
        options.outputPath = dir.File("ostrel.out").string();
        return std::make_unique<test::ChildProcess>(OSTREL_PROGRAM_PATH, args, options);
    }
    std::string Settings() const {
        std::ifstream in(dir.File("ostrel.ini"));
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void ExpectFlashHoldsTheImage(const test::SimProcess& sim) const {
        HexImage image;
        ASSERT_TRUE(image.Open(firmware));
        image.Build();
        const auto flash = sim.Flash();
        ASSERT_EQ(flash.size(), HexImage::imageSize);
        EXPECT_TRUE(std::equal(flash.begin(), flash.end(), image.Image().begin()));
    }

    test::TempDir dir;
    std::string firmware;
};

TEST_F(UpdateE2ETest, UpdatesTheModuleAndExitsZero) {
    const auto sim = StartSim();
    const auto ostrel = StartUpdate();
    EXPECT_EQ(ostrel->WaitForExit(30s), 0);
    EXPECT_EQ(sim->LogLines("boot", "Run").size(), 1u);
    ExpectFlashHoldsTheImage(*sim);
    const std::string settings = Settings();
    EXPECT_NE(settings.find(std::string("Vexa_IP=") + moduleAddress), std::string::npos)
        << settings;
    EXPECT_NE(settings.find("PATH=" + firmware), std::string::npos) << settings;
}

TEST_F(UpdateE2ETest, SucceedsWhenTheFirstCopyOfEveryCommandIsLost) {
    const auto sim = StartSim({"--drop-first", "1"});
    const auto ostrel = StartUpdate();
    EXPECT_EQ(ostrel->WaitForExit(60s), 0);
    EXPECT_EQ(sim->LogLines("boot", "Erase").size(), 2u);
    EXPECT_EQ(sim->LogLines("boot", "Verify").size(), 2u);
    // Run is not waited for, and its only copy was lost too: the flash is seen at the exit dump.
    EXPECT_EQ(sim->Stop(), 0);
    ExpectFlashHoldsTheImage(*sim);
}

TEST_F(UpdateE2ETest, SucceedsWhenEveryReplyComesTwice) {
    const auto sim = StartSim({"--duplicate"});
    const auto ostrel = StartUpdate();
    EXPECT_EQ(ostrel->WaitForExit(30s), 0);
    EXPECT_EQ(sim->LogLines("boot", "Run").size(), 1u);
    ExpectFlashHoldsTheImage(*sim);
}

TEST_F(UpdateE2ETest, ANameThatIsNotUtf8ReachesTheReaderFromTheCommandLineAndTheSettings) {
    const auto sim = StartSim();
    firmware = dir.Path().string() + "/fw-\xE9\xFF.hex";
    std::ofstream(firmware) << test::MakeFirmware(8 * 1024, 16).Text();
    EXPECT_EQ(
        StartProgram({"-A", std::string("-I") + moduleAddress, "-F" + firmware})->WaitForExit(30s),
        0);
    EXPECT_EQ(StartProgram({"-A", std::string("-I") + moduleAddress})->WaitForExit(30s), 0)
        << "the stored name";
    EXPECT_EQ(sim->LogLines("boot", "Run").size(), 2u);
    ExpectFlashHoldsTheImage(*sim);
}

TEST_F(UpdateE2ETest, WrongModuleCrcNeverStartsTheApplication) {
    const auto sim = StartSim({"--bad-verify"});
    const auto ostrel = StartUpdate();
    ASSERT_TRUE(sim->WaitForLog("boot", "Verify", 1, 30s));
    // The program now waits for the user to acknowledge "Programming Failed!".
    EXPECT_FALSE(ostrel->WaitForExit(2s).has_value());
    EXPECT_NE(ostrel->Stop(), 0);
    EXPECT_TRUE(sim->LogLines("boot", "Run").empty());
}

TEST_F(UpdateE2ETest, SilentModuleGetsThreeErasesFiveSecondsApart) {
    const auto sim = StartSim({"--silent"});
    const auto ostrel = StartUpdate();
    ASSERT_TRUE(sim->WaitForLog("boot", "Erase", 3, 25s));
    const auto erases = sim->LogLines("boot", "Erase");
    ASSERT_EQ(erases.size(), 3u);
    for (std::size_t i = 1; i < erases.size(); ++i) {
        const double gap = LogTime(erases[i]) - LogTime(erases[i - 1]);
        EXPECT_GT(gap, 4.95) << i;
        EXPECT_LT(gap, 5.4) << i;
    }
    const auto wakes = sim->LogLines("wake", "-");
    ASSERT_EQ(wakes.size(), 1u);
    const double wakeToErase = LogTime(erases[0]) - LogTime(wakes[0]);
    EXPECT_GT(wakeToErase, 2.6) << "nine ticks of 300 ms";
    EXPECT_LT(wakeToErase, 3.2);
    std::this_thread::sleep_for(6s); // the time-out comes 5 s after the third Erase
    EXPECT_FALSE(ostrel->WaitForExit(0ms).has_value()) << "it waits for the user";
    EXPECT_EQ(sim->LogLines("boot", "Erase").size(), 3u);
    EXPECT_NE(ostrel->Stop(), 0);
    EXPECT_TRUE(sim->LogLines("boot", "Run").empty());
}

} // namespace
} // namespace ostrel
