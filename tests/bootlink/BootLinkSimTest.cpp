// A whole programming sequence through the link against a simulated module on loopback.
#include "bootlink/BootLink.h"
#include "tests/support/FlashCheck.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/RecordingListener.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

constexpr DeviceAddress loopback = 0x7F000001;

class BootLinkSimTest : public ::testing::TestWithParam<std::vector<std::string>> {
protected:
    // Sends the command and waits for its one report.
    test::RecordingListener::Event Exchange(BootCommand command,
                                            std::chrono::milliseconds timeout) {
        const std::size_t before = listener.Events().size();
        EXPECT_TRUE(link.SendCommand(command, 3, timeout));
        const auto events = listener.WaitFor(before + 1, 4 * timeout + 5s);
        EXPECT_EQ(events.size(), before + 1)
            << "one report for command " << static_cast<int>(command);
        return events.empty() ? test::RecordingListener::Event{} : events.back();
    }

    test::TempDir dir;
    test::MessageRecorder messages;
    test::RecordingListener listener;
    BootLink link{messages};
};

TEST_P(BootLinkSimTest, ProgramsTheImageIntoTheModulesFlash) {
    test::SimOptions options;
    options.args = GetParam();
    test::SimProcess sim(options);
    const auto hex = test::MakeFirmware(40 * 1024, 16);
    ASSERT_TRUE(link.LoadHexFile(dir.Write("firmware.hex", hex.Text())));
    ASSERT_TRUE(link.Open(sim.Port(), loopback));
    link.SendRaw(std::vector<std::uint8_t>{'7', '0', '8', '1', '4'});
    ASSERT_TRUE(sim.WaitForLog("wake", "-"));
    link.StartWorker(listener);

    auto event = Exchange(BootCommand::Erase, 300ms);
    ASSERT_FALSE(event.timeout);
    EXPECT_EQ(event.reply.command, BootCommand::Erase);

    event = Exchange(BootCommand::Program, 200ms);
    ASSERT_FALSE(event.timeout);
    EXPECT_EQ(event.reply.command, BootCommand::Program);
    const auto progress = link.GetProgress();
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->done, hex.LineCount());
    EXPECT_EQ(progress->total, hex.LineCount());

    event = Exchange(BootCommand::Verify, 500ms);
    ASSERT_FALSE(event.timeout);
    ASSERT_EQ(event.reply.command, BootCommand::Verify);
    ASSERT_GE(event.reply.length, 2u);
    const std::uint16_t moduleCrc =
        static_cast<std::uint16_t>(event.reply.data[0] | event.reply.data[1] << 8);
    EXPECT_EQ(moduleCrc, link.ImageCrc());

    EXPECT_TRUE(link.SendCommand(BootCommand::Run, 1, 10ms));
    link.StopWorker();
    EXPECT_EQ(sim.Stop(), 0);
    const std::size_t frames = (hex.LineCount() + 10) / 11;
    const std::size_t dropped = GetParam().empty() ? 0 : 1;
    EXPECT_EQ(sim.LogLines("boot", "Program").size(), frames + dropped);
    EXPECT_TRUE(test::FlashHoldsTheImage(sim.Flash(), dir.File("firmware.hex").string()));
    EXPECT_TRUE(messages.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Modules, BootLinkSimTest,
                         ::testing::Values(std::vector<std::string>{},
                                           std::vector<std::string>{"--drop-first", "1"}),
                         [](const auto& testCase) {
                             return testCase.param.empty() ? "Reliable" : "DropsFirstCopies";
                         });

} // namespace
} // namespace ostrel
