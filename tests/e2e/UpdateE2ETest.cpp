// The built program, as a script runs it: ostrel -A against a simulated module on loopback.
#include "image/HexImage.h"
#include "ledger/Ledger.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FlashCheck.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <fstream>
#include <iterator>
#include <thread>
#include <unistd.h>

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
    // Where the program's windows go: nowhere anyone can see them (the offscreen platform),
    // nowhere at all (no display and no platform chosen), or onto an X display.
    enum class Screen { Offscreen, None, Display };

    std::unique_ptr<test::ChildProcess> StartUpdate(Screen screen = Screen::Offscreen) {
        firmware = dir.Write("firmware.hex", test::MakeFirmware(16 * 1024, 16).Text());
        return StartProgram({"-A", std::string("-I") + moduleAddress, "-F" + firmware}, screen);
    }
    std::unique_ptr<test::ChildProcess> StartProgram(const std::vector<std::string>& args,
                                                     Screen screen = Screen::Offscreen) {
        test::ChildOptions options;
        options.environment = {"XDG_CONFIG_HOME=" + dir.Path().string(), "WAYLAND_DISPLAY",
                               "OSTREL_LEDGER=" + dir.File("ledger.sqlite3").string()};
        switch (screen) {
        case Screen::Offscreen:
            options.environment.push_back("QT_QPA_PLATFORM=offscreen");
            break;
        case Screen::None:
            options.environment.push_back("QT_QPA_PLATFORM");
            options.environment.push_back("DISPLAY");
            break;
        case Screen::Display:
            options.environment.push_back("QT_QPA_PLATFORM=xcb");
            options.environment.push_back("DISPLAY=" + display);
            options.environment.push_back("XDG_RUNTIME_DIR=" + dir.Path().string());
            break;
        }
        options.outputPath = dir.File("ostrel.out").string();
        return std::make_unique<test::ChildProcess>(OSTREL_PROGRAM_PATH, args, options);
    }
    // An X server of the test's own; false when there is none to be had.
    bool StartDisplay() {
        if (::access("/usr/bin/Xvfb", X_OK) != 0) {
            return false;
        }
        test::ChildOptions options;
        options.pipeOutput = true;
        xServer = std::make_unique<test::ChildProcess>(
            "/usr/bin/Xvfb", std::vector<std::string>{"-displayfd", "1", "-nolisten", "tcp"},
            options);
        const std::string number = xServer->ReadOutput(10s);
        // Appended piece by piece: GCC 12 warns falsely on literal + temporary at -O3.
        display = std::string(":").append(number.substr(0, number.find('\n')));
        return !number.empty();
    }
    // The program's lines on standard error that carry a message, in order.
    std::vector<std::string> MessageLines() const {
        std::ifstream in(dir.File("ostrel.out"));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            if (line.starts_with("ostrel: ")) {
                lines.push_back(line);
            }
        }
        return lines;
    }
    std::string Settings() const {
        std::ifstream in(dir.File("ostrel.ini"));
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void ExpectFlashHoldsTheImage(const test::SimProcess& sim) const {
        EXPECT_TRUE(test::FlashHoldsTheImage(sim.Flash(), firmware));
    }

    test::TempDir dir;
    std::string firmware;
    std::unique_ptr<test::ChildProcess> xServer;
    std::string display;
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
    // The window records what it knows, the address, the file and the result.
    auto ledger = Ledger::Open(dir.File("ledger.sqlite3").string());
    ASSERT_TRUE(std::holds_alternative<Ledger>(ledger)) << std::get<std::string>(ledger);
    const auto rows = std::get<Ledger>(ledger).History({});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].update.address, moduleAddress);
    EXPECT_EQ(rows[0].update.file, firmware);
    EXPECT_EQ(rows[0].update.result, "done");
    EXPECT_EQ(rows[0].by.program, "ostrel");
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

// Where nobody can answer a window: the messages go to standard error, each as one line, and a
// failed update ends the program with exit code 1.
struct UnattendedCase {
    const char* name;
    std::vector<std::string> faults;
    bool missingFile;
    std::chrono::seconds limit;
};

void PrintTo(const UnattendedCase& row, std::ostream* out) {
    *out << row.name;
}

class UnattendedFailureTest : public UpdateE2ETest,
                              public ::testing::WithParamInterface<UnattendedCase> {};

TEST_P(UnattendedFailureTest, SaysWhyOnStandardErrorAndExitsOne) {
    const auto sim = StartSim(GetParam().faults);
    firmware = GetParam().missingFile ? dir.File("missing.hex").string()
                                      : dir.Write("firmware.hex", test::MakeFirmware(4096).Text());
    const auto ostrel =
        StartProgram({"-A", std::string("-I") + moduleAddress, "-F" + firmware}, Screen::None);
    EXPECT_EQ(ostrel->WaitForExit(GetParam().limit), 1);
    const auto lines = MessageLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "ostrel: Programming Failed!");
    EXPECT_EQ(lines.back(), "ostrel: Update Failed");
    if (GetParam().missingFile) {
        EXPECT_EQ(lines.front(), "ostrel: can't load hex file");
    }
    EXPECT_TRUE(sim->LogLines("boot", "Run").empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, UnattendedFailureTest,
                         ::testing::Values(UnattendedCase{"WrongCrc", {"--bad-verify"}, false, 30s},
                                           UnattendedCase{"MissingFile", {}, true, 10s}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(UpdateE2ETest, WithoutADisplayAnAutomaticUpdateStillSucceeds) {
    const auto sim = StartSim();
    EXPECT_EQ(StartUpdate(Screen::None)->WaitForExit(30s), 0);
    EXPECT_TRUE(MessageLines().empty());
    ExpectFlashHoldsTheImage(*sim);
}

TEST_F(UpdateE2ETest, WithoutADisplayAnAddressOfZeroExitsOne) {
    EXPECT_EQ(StartProgram({"-A", "-I0.0.0.0"}, Screen::None)->WaitForExit(10s), 1);
    EXPECT_EQ(MessageLines(), std::vector<std::string>{"ostrel: Invalid IP address "});
}

TEST_F(UpdateE2ETest, WithoutADisplayOrAutomaticModeItSaysADisplayIsNeeded) {
    EXPECT_EQ(StartProgram({"-I127.0.0.1"}, Screen::None)->WaitForExit(10s), 1);
    const auto lines = MessageLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("ostrel: a display is needed")) << lines[0];
}

TEST_F(UpdateE2ETest, OnADisplayAFailedAutomaticUpdateWaitsForTheUser) {
    if (!StartDisplay()) {
        GTEST_SKIP() << "no Xvfb to show the windows on";
    }
    const auto sim = StartSim({"--bad-verify"});
    const auto ostrel = StartUpdate(Screen::Display);
    ASSERT_TRUE(sim->WaitForLog("boot", "Verify", 1, 30s));
    // "Programming Failed!" is up, and stays until someone acknowledges it.
    EXPECT_FALSE(ostrel->WaitForExit(3s).has_value());
    EXPECT_TRUE(MessageLines().empty());
    EXPECT_NE(ostrel->Stop(), 0);
    EXPECT_TRUE(sim->LogLines("boot", "Run").empty());
}

TEST_F(UpdateE2ETest, SilentModuleGetsThreeErasesFiveSecondsApart) {
    const auto sim = StartSim({"--silent"});
    const auto ostrel = StartUpdate(Screen::None);
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
    // The time-out comes 5 s after the third Erase; nobody can answer, so the program ends.
    EXPECT_EQ(ostrel->WaitForExit(8s), 1);
    EXPECT_EQ(MessageLines(),
              (std::vector<std::string>{"ostrel: Programming Failed!", "ostrel: Update Failed"}));
    EXPECT_EQ(sim->LogLines("boot", "Erase").size(), 3u);
    EXPECT_TRUE(sim->LogLines("boot", "Run").empty());
}

} // namespace
} // namespace ostrel
