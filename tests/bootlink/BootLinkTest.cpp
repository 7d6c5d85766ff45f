#include "bootlink/BootLink.h"

#include "tests/support/Bytes.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/RecordingListener.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestFrames.h"
#include "tests/support/UdpPeer.h"

#include <array>
#include <dirent.h>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::HexBytes;
using Clock = std::chrono::steady_clock;

constexpr DeviceAddress loopback = 0x7F000001;
constexpr auto T = 60ms;
// One worker pass may add a receive time-out and a sleep to any moment; a loaded machine more.
constexpr auto slack = 45ms;

long Ms(Clock::duration d) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

int ThreadCount() {
    int count = 0;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks)) {
            count += entry->d_name[0] != '.';
        }
        ::closedir(tasks);
    }
    return count;
}

// Each case runs on each way a link may run: its worker on a thread of its own, as passes on a
// loop that many links share, and there sending the Program frames that a fleet built once;
// what goes on the wire, and when, must not differ.
enum class Runner { OwnThread, OnLoop, OnLoopWithKnownProgram };

class BootLinkTest : public ::testing::TestWithParam<Runner> {
protected:
    void SetUp() override {
        if (GetParam() != Runner::OwnThread) {
            link.RunOn(loop.emplace());
        }
        ASSERT_TRUE(link.Open(peer.Port(), loopback));
        link.StartWorker(listener);
    }

    // Opens a HEX file of n record lines: an address record, data records, an end record.
    void LoadRecords(std::size_t lines) {
        test::HexFileWriter hex;
        hex.ExtendedLinear(0x1D00);
        for (std::size_t i = 0; i + 2 < lines; ++i) {
            hex.Data(static_cast<std::uint16_t>(i * 16), Bytes(16, static_cast<std::uint8_t>(i)));
        }
        hex.EndOfFile();
        const std::string path = dir.Write("firmware.hex", hex.Text());
        if (GetParam() == Runner::OnLoopWithKnownProgram) {
            auto program = ProgramFrames::FromFile(path);
            ASSERT_TRUE(program);
            link.UseKnownProgram(std::make_shared<const ProgramFrames>(std::move(*program)));
            std::filesystem::remove(path); // the link must not need it
        }
        ASSERT_TRUE(link.LoadHexFile(path));
    }

    void Answer(const test::UdpPeer::Datagram& to, const Bytes& payload) {
        peer.SendTo(to.source, test::EncodeTestFrame(payload));
    }

    test::TempDir dir;
    test::MessageRecorder messages;
    test::UdpPeer peer;
    test::RecordingListener listener;
    std::optional<LinkLoop> loop;
    BootLink link{messages};
};

TEST_P(BootLinkTest, SilentModuleGetsEveryAttemptThenATimeout) {
    const auto start = Clock::now();
    ASSERT_TRUE(link.SendCommand(BootCommand::Erase, 3, T));
    const auto sends = peer.ReceiveAll(3 * T + 2 * slack);
    const auto events = listener.WaitFor(1, 1000ms);
    ASSERT_EQ(sends.size(), 3u);
    for (const auto& send : sends) {
        EXPECT_BYTES_EQ(HexBytes(test::eraseFrame), send.bytes);
    }
    const auto first = sends[0].arrival;
    EXPECT_LT(Ms(first - start), Ms(slack));
    for (std::size_t i = 1; i < 3; ++i) {
        const long at = Ms(sends[i].arrival - first);
        EXPECT_GE(at, Ms(i * T)) << "send " << i;
        EXPECT_LE(at, Ms(i * T + slack)) << "send " << i;
    }
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].timeout);
    EXPECT_EQ(events[0].reply.command, BootCommand::Erase);
    const long timeoutAt = Ms(events[0].when - first);
    EXPECT_GE(timeoutAt, Ms(3 * T));
    EXPECT_LE(timeoutAt, Ms(3 * T + 2 * slack));
    EXPECT_EQ(link.GetProgress()->done, 3u);
}

TEST_P(BootLinkTest, ReplyToSecondAttemptStopsTheThird) {
    ASSERT_TRUE(link.SendCommand(BootCommand::Verify, 3, T));
    ASSERT_TRUE(peer.Receive(500ms));
    const auto second = peer.Receive(500ms);
    ASSERT_TRUE(second);
    Answer(*second, HexBytes("04 41 00"));
    const auto events = listener.WaitFor(1, 500ms);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(events[0].timeout);
    EXPECT_EQ(events[0].reply.command, BootCommand::Verify);
    EXPECT_BYTES_EQ(HexBytes("41 00"), events[0].reply.Data());
    EXPECT_FALSE(peer.Receive(2 * T + slack)) << "no third send";
    const auto progress = link.GetProgress();
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->done, 3u);
    EXPECT_EQ(progress->total, 3u);
    EXPECT_EQ(listener.Events().size(), 1u) << "no time-out after the reply";
}

TEST_P(BootLinkTest, EveryResendIsReportedWithItsNumber) {
    ASSERT_TRUE(link.SendCommand(BootCommand::Erase, 3, T));
    ASSERT_EQ(listener.WaitFor(1, 1000ms).size(), 1u);
    using Resend = std::pair<BootCommand, std::uint16_t>;
    EXPECT_EQ(listener.Resends(),
              (std::vector<Resend>{{BootCommand::Erase, 2}, {BootCommand::Erase, 3}}));
}

TEST(BootLinkSenderTest, WhenOnlyTheModuleCountsAStrangersReplyIsNoAnswer) {
    test::MessageRecorder messages;
    test::UdpPeer module;
    test::UdpPeer stranger("127.0.0.2");
    test::RecordingListener listener;
    BootLink link(messages);
    link.TakeRepliesOnlyFromModule();
    ASSERT_TRUE(link.Open(module.Port(), loopback));
    link.StartWorker(listener);
    ASSERT_TRUE(link.SendCommand(BootCommand::Erase, 2, 200ms));
    const auto erase = module.Receive(500ms);
    ASSERT_TRUE(erase);
    stranger.SendTo(erase->source, test::EncodeTestFrame(HexBytes("02")));
    EXPECT_TRUE(module.Receive(500ms)) << "resent: the stranger's reply did not count";
    module.SendTo(erase->source, test::EncodeTestFrame(HexBytes("02")));
    const auto events = listener.WaitFor(1, 500ms);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(events[0].timeout);
}

TEST_P(BootLinkTest, ZeroAttemptsSendsAndReportsNothing) {
    EXPECT_FALSE(link.GetProgress()) << "no command yet";
    ASSERT_TRUE(link.SendCommand(BootCommand::Erase, 0, T));
    EXPECT_FALSE(peer.Receive(3 * T));
    EXPECT_TRUE(listener.Events().empty());
}

TEST_P(BootLinkTest, RunIsSentOnceAndNeverReported) {
    ASSERT_TRUE(link.SendCommand(BootCommand::Run, 3, 5000ms));
    const auto run = peer.Receive(500ms);
    ASSERT_TRUE(run);
    EXPECT_BYTES_EQ(HexBytes(test::runFrame), run->bytes);
    Answer(*run, HexBytes("05"));
    EXPECT_FALSE(peer.Receive(200ms)) << "one attempt, whatever was asked";
    EXPECT_TRUE(listener.Events().empty());
    EXPECT_EQ(link.GetProgress()->total, 1u);
}

// The Program cases also run with the frames a fleet built once.
class BootLinkProgramTest : public BootLinkTest {};

TEST_P(BootLinkProgramTest, ProgramFramesFollowEachReplyAndOnlyTheLastIsReported) {
    LoadRecords(25);
    ASSERT_TRUE(link.SendCommand(BootCommand::Program, 3, 500ms));
    std::vector<std::size_t> recordsPerFrame;
    for (int frame = 0; frame < 3; ++frame) {
        const auto datagram = peer.Receive(1000ms);
        ASSERT_TRUE(datagram) << "frame " << frame;
        const auto payload = test::DecodeTestFrame(datagram->bytes);
        ASSERT_TRUE(payload);
        recordsPerFrame.push_back(test::SplitRecords(*payload).size());
        const auto progress = link.GetProgress();
        EXPECT_EQ(progress->done, std::min<std::uint32_t>(11u * (frame + 1), 25u));
        EXPECT_EQ(progress->total, 25u);
        EXPECT_TRUE(listener.Events().empty()) << "nothing reported before the last reply";
        Answer(*datagram, HexBytes("03"));
    }
    EXPECT_EQ(recordsPerFrame, (std::vector<std::size_t>{11, 11, 3}));
    const auto events = listener.WaitFor(1, 500ms);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].reply.command, BootCommand::Program);
    EXPECT_FALSE(peer.Receive(100ms));
}

TEST_P(BootLinkProgramTest, UnansweredProgramFrameIsResentAsItWas) {
    LoadRecords(25);
    ASSERT_TRUE(link.SendCommand(BootCommand::Program, 2, T));
    const auto first = peer.Receive(500ms);
    const auto again = peer.Receive(500ms);
    ASSERT_TRUE(first && again);
    EXPECT_BYTES_EQ(first->bytes, again->bytes);
    const auto events = listener.WaitFor(1, 500ms);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].timeout);
    EXPECT_EQ(events[0].reply.command, BootCommand::Program);
}

TEST_P(BootLinkTest, RepliesAreTakenFromAnySenderButNotWhenIdle) {
    ASSERT_TRUE(link.SendCommand(BootCommand::Erase, 3, 500ms));
    const auto erase = peer.Receive(500ms);
    ASSERT_TRUE(erase);
    test::UdpPeer stranger;
    stranger.SendTo(erase->source, test::EncodeTestFrame(HexBytes("02")));
    ASSERT_EQ(listener.WaitFor(1, 500ms).size(), 1u);
    // A duplicate of the same reply on an idle link is dropped.
    Answer(*erase, HexBytes("02"));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(listener.Events().size(), 1u);
}

TEST_P(BootLinkTest, AReplyNamingAnotherCommandIsNoAnswerAndLeavesTheRetriesAlone) {
    ASSERT_TRUE(link.SendCommand(BootCommand::Verify, 2, 200ms));
    const auto verify = peer.Receive(500ms);
    ASSERT_TRUE(verify);
    // Late replies to earlier commands: none may end the Verify or start anything.
    Answer(*verify, HexBytes("03"));
    Answer(*verify, HexBytes("02"));
    const auto resent = peer.Receive(500ms);
    ASSERT_TRUE(resent) << "the Verify is resent on its own time-out";
    EXPECT_GE(Ms(resent->arrival - verify->arrival), 200);
    EXPECT_BYTES_EQ(verify->bytes, resent->bytes);
    EXPECT_TRUE(listener.Events().empty());
    Answer(*resent, HexBytes("04 41 00"));
    const auto events = listener.WaitFor(1, 500ms);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(events[0].timeout);
    EXPECT_EQ(events[0].reply.command, BootCommand::Verify);
}

TEST_P(BootLinkTest, BadRepliesAreDroppedAndTheCommandResent) {
    ASSERT_TRUE(link.SendCommand(BootCommand::Query, 2, T));
    const auto query = peer.Receive(500ms);
    ASSERT_TRUE(query);
    peer.SendTo(query->source, HexBytes("01 01 21 21 04")); // wrong CRC
    Bytes oversized = test::EncodeTestFrame(HexBytes("01"));
    oversized.resize(300, 0x00); // a good frame at the start of a 300-byte datagram
    peer.SendTo(query->source, oversized);
    ASSERT_TRUE(peer.Receive(500ms)) << "resent after the time-out";
    const auto events = listener.WaitFor(1, 500ms);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].timeout);
}

TEST_P(BootLinkTest, OnlyTheFirstOfTwoFramesInADatagramIsDispatched) {
    ASSERT_TRUE(link.SendCommand(BootCommand::Query, 1, 500ms));
    const auto query = peer.Receive(500ms);
    ASSERT_TRUE(query);
    Bytes both = test::EncodeTestFrame(HexBytes("01 AA"));
    const Bytes second = test::EncodeTestFrame(HexBytes("02"));
    both.insert(both.end(), second.begin(), second.end());
    peer.SendTo(query->source, both);
    const auto events = listener.WaitFor(2, 300ms);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].reply.command, BootCommand::Query);
    EXPECT_BYTES_EQ(HexBytes("AA"), events[0].reply.Data());
}

TEST_P(BootLinkTest, ReplyDataIsACopy) {
    ASSERT_TRUE(link.SendCommand(BootCommand::Verify, 1, 500ms));
    const auto verify = peer.Receive(500ms);
    ASSERT_TRUE(verify);
    Answer(*verify, HexBytes("04 34 12"));
    ASSERT_EQ(listener.WaitFor(1, 500ms).size(), 1u);
    // Later traffic into the worker's buffer leaves the reported data alone.
    peer.SendTo(verify->source, test::EncodeTestFrame(HexBytes("04 FF FF")));
    std::this_thread::sleep_for(50ms);
    EXPECT_BYTES_EQ(HexBytes("34 12"), listener.Events()[0].reply.Data());
}

TEST_P(BootLinkTest, StartingTwiceRunsOneWorkerAndStoppingIsPrompt) {
    const int running = ThreadCount();
    link.StartWorker(listener);
    EXPECT_EQ(ThreadCount(), running);
    const auto start = Clock::now();
    link.StopWorker();
    EXPECT_LT(Ms(Clock::now() - start), 200);
    EXPECT_EQ(ThreadCount(),
              GetParam() != Runner::OwnThread ? running : running - 1); // the loop runs on
    link.StopWorker(); // without a worker: returns at once
    link.StartWorker(listener);
    EXPECT_EQ(ThreadCount(), running);
}

TEST_P(BootLinkTest, AStoppedWorkerSendsNothingMore) {
    ASSERT_TRUE(link.SendCommand(BootCommand::Erase, 5, T));
    ASSERT_EQ(peer.ReceiveAll(T / 2).size(), 1u);
    link.StopWorker();
    EXPECT_TRUE(peer.ReceiveAll(3 * T).empty());
    EXPECT_TRUE(listener.WaitFor(1, T).empty());
}

std::string RunnerName(const ::testing::TestParamInfo<Runner>& info) {
    return std::array{"OwnThread", "OnLoop",
                      "OnLoopWithKnownProgram"}[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Worker, BootLinkTest, ::testing::Values(Runner::OwnThread, Runner::OnLoop),
                         RunnerName);
INSTANTIATE_TEST_SUITE_P(Worker, BootLinkProgramTest,
                         ::testing::Values(Runner::OwnThread, Runner::OnLoop,
                                           Runner::OnLoopWithKnownProgram),
                         RunnerName);

} // namespace
} // namespace ostrel
