// Programming speed of the link against the module simulator on loopback: time per Program
// frame, beside bare UDP round trips between the same two processes measured in the same run.
// The link should add nothing between a dispatched reply and the next frame, so its time per
// frame should stay close to a Program frame's round trip (network plus the module's handling).
//
// On a virtual machine a loopback round trip is either fast (both ends on one CPU) or several
// times slower (a wake-up across CPUs), and which one a thread gets is the scheduler's choice.
// So the run is made twice: as the scheduler places the threads, and with the benchmark, its
// worker and the simulator on one CPU, where the figures are steady enough to compare.
#include "bench/OneCpu.h"
#include "bench/RoundTrips.h"
#include "bench/SimClock.h"
#include "bootlink/BootLink.h"
#include "bootlink/FrameBuilder.h"
#include "image/HexImage.h"
#include "net/UdpEndpoint.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/RecordingListener.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

using namespace std::chrono_literals;
using ostrel::bench::Samples;
using ostrel::bench::Seconds;
using Clock = std::chrono::steady_clock;
using Event = ostrel::test::RecordingListener::Event;

constexpr ostrel::DeviceAddress loopback = 0x7F000001;
constexpr std::array<std::uint8_t, 7> queryFrame{0x01, 0x10, 0x01, 0x21, 0x10, 0x10, 0x04};
constexpr std::size_t roundTripsPerIteration = 300;
constexpr auto roundTripTimeLimit = 3s;
constexpr auto sequenceTimeLimit = 30s;

// The file's Program frames sent in lock-step by one thread with no worker: what the link
// would achieve if it added nothing. Returns the frames answered and the time they took.
std::pair<std::size_t, double> BareSequence(ostrel::UdpEndpoint& endpoint,
                                            const std::string& path) {
    ostrel::HexImage image;
    ostrel::FrameBuilder builder;
    if (!image.Open(path)) {
        return {0, 0};
    }
    std::array<std::uint8_t, ostrel::BootLink::maxReplyDatagram> reply{};
    std::size_t frames = 0;
    const auto start = Clock::now();
    for (bool restart = true; builder.Build(ostrel::BootCommand::Program, image, restart);
         restart = false) {
        endpoint.Send(builder.Frame());
        if (endpoint.Receive(reply) == 0 || Clock::now() - start > sequenceTimeLimit) {
            return {0, 0};
        }
        ++frames;
    }
    return {frames, Seconds(Clock::now() - start)};
}

std::vector<std::uint8_t> FirstProgramFrame(const std::string& path) {
    ostrel::HexImage image;
    ostrel::FrameBuilder builder;
    if (!image.Open(path) || !builder.Build(ostrel::BootCommand::Program, image, true)) {
        return {};
    }
    const auto frame = builder.Frame();
    return {frame.begin(), frame.end()};
}

// The report that follows the first `seen` ones, if it comes in time.
std::optional<Event> NextEvent(ostrel::test::RecordingListener& listener, std::size_t seen,
                               std::chrono::milliseconds limit) {
    const auto events = listener.WaitFor(seen + 1, limit);
    if (events.size() <= seen) {
        return std::nullopt;
    }
    return events[seen];
}

bool IsReply(const std::optional<Event>& event, ostrel::BootCommand command) {
    return event && !event->timeout && event->reply.command == command;
}

std::vector<double> Times(const std::vector<std::string>& lines) {
    std::vector<double> times;
    for (const auto& line : lines) {
        times.push_back(ostrel::bench::LogSeconds(line).value_or(0));
    }
    return times;
}

// Everything one benchmark run gathers, summed over its iterations.
struct Figures {
    Samples queryTrips;
    Samples programTrips;
    std::size_t lost = 0;
    Samples frameIntervals; // between consecutive Program frames in the log, first gap left out
    std::size_t frames = 0;
    std::size_t resends = 0;
    double programSeconds = 0;
    double firstFrameSeconds = 0;  // SendCommand until the simulator has the first frame
    double secondFrameSeconds = 0; // the first frame until the second
    double lastReplySeconds = 0;   // the simulator has the last frame until the reply is posted
    double eraseSeconds = 0;
    std::size_t bareFrames = 0;
    double bareSeconds = 0;
};

void Report(benchmark::State& state, const Figures& f, std::size_t framesPerRun) {
    const auto iterations = static_cast<double>(state.iterations());
    const double usPerFrame = f.programSeconds * 1e6 / static_cast<double>(f.frames);
    const double programRtt = f.programTrips.Median();
    const double bareUsPerFrame =
        f.bareFrames == 0 ? 0 : f.bareSeconds * 1e6 / static_cast<double>(f.bareFrames);
    auto& c = state.counters;
    c["frames"] = static_cast<double>(framesPerRun);
    c["resends"] = static_cast<double>(f.resends);
    c["us_per_frame"] = usPerFrame;
    c["frame_gap_median_us"] = f.frameIntervals.Median();
    c["frame_gap_mean_us"] = f.frameIntervals.Mean();
    c["first_frame_ms"] = f.firstFrameSeconds * 1e3 / iterations;
    c["second_frame_us"] = f.secondFrameSeconds * 1e6 / iterations;
    c["last_reply_us"] = f.lastReplySeconds * 1e6 / iterations;
    c["rtt_query_median_us"] = f.queryTrips.Median();
    c["rtt_query_mean_us"] = f.queryTrips.Mean();
    c["rtt_program_median_us"] = programRtt;
    c["rtt_program_mean_us"] = f.programTrips.Mean();
    c["rtt_lost"] = static_cast<double>(f.lost);
    c["bare_us_per_frame"] = bareUsPerFrame;
    const auto ratio = [](double part, double whole) { return whole > 0 ? part / whole : 0; };
    c["frame_per_rtt"] = ratio(usPerFrame, f.queryTrips.Median());
    // The target: at most 1.5.
    c["frame_per_program_rtt"] = ratio(usPerFrame, programRtt);
    c["erase_ms"] = f.eraseSeconds * 1e3 / iterations;
}

void ProgramFiveHundredTwelveKiB(benchmark::State& state) {
    const ostrel::bench::OneCpu cpu(state.range(0) != 0);
    if (state.range(0) != 0 && !cpu.Pinned()) {
        state.SkipWithError("cannot pin to one CPU");
        return;
    }
    const ostrel::test::TempDir dir;
    const auto hex = ostrel::test::MakeFirmware(512 * 1024, 16);
    const std::string path = dir.Write("firmware.hex", hex.Text());
    const std::size_t perFrame = ostrel::FrameBuilder::recordsPerFrame;
    const std::size_t framesPerRun = (hex.Records().size() + perFrame - 1) / perFrame;
    const std::vector<std::uint8_t> programFrame = FirstProgramFrame(path);

    std::optional<ostrel::test::SimProcess> sim;
    try {
        sim.emplace(ostrel::test::SimOptions{.args = {"--bootloader"}, .dump = false});
    } catch (const std::runtime_error& error) {
        state.SkipWithError(error.what());
        return;
    }
    ostrel::test::MessageRecorder messages;
    ostrel::test::RecordingListener listener;
    ostrel::BootLink link(messages);
    ostrel::UdpEndpoint probe(messages);
    if (programFrame.empty() || !link.LoadHexFile(path) || !link.Open(sim->Port(), loopback) ||
        !probe.Open(sim->Port(), loopback)) {
        state.SkipWithError("cannot set up the file, the link or the probe");
        return;
    }
    link.StartWorker(listener);

    Figures f;
    std::size_t seen = 0;
    for (auto _ : state) {
        // The last answered Query puts the simulator's log on our clock.
        const auto calibration = ostrel::bench::MeasureRoundTrips(
            probe, queryFrame, roundTripsPerIteration, roundTripTimeLimit, f.queryTrips, f.lost);
        const auto queryLines = sim->LogLines("boot", "Query");
        ostrel::bench::SimClock simClock;
        if (calibration && !queryLines.empty()) {
            if (const auto at = ostrel::bench::LogSeconds(queryLines.back())) {
                simClock.Calibrate(calibration->sent, calibration->received, *at);
            }
        }
        ostrel::bench::MeasureRoundTrips(probe, programFrame, roundTripsPerIteration,
                                         roundTripTimeLimit, f.programTrips, f.lost);
        const auto [bareFrames, bareSeconds] = BareSequence(probe, path);
        f.bareFrames += bareFrames;
        f.bareSeconds += bareSeconds;

        // Also makes the simulator forget the probes' frames, so none of the link's is a resend.
        const auto eraseStart = Clock::now();
        link.SendCommand(ostrel::BootCommand::Erase, 3, 5000ms);
        const auto erased = NextEvent(listener, seen++, 20s);
        if (!IsReply(erased, ostrel::BootCommand::Erase)) {
            state.SkipWithError("the simulator did not answer Erase");
            break;
        }
        f.eraseSeconds += Seconds(erased->when - eraseStart);

        const std::size_t logBefore = sim->LogLines("boot", "Program").size();
        const auto start = Clock::now();
        link.SendCommand(ostrel::BootCommand::Program, 3, 500ms);
        const auto programmed = NextEvent(listener, seen++, 60s);
        if (!IsReply(programmed, ostrel::BootCommand::Program)) {
            state.SkipWithError("the Program sequence did not end with its reply");
            break;
        }
        const double seconds = Seconds(programmed->when - start);
        state.SetIterationTime(seconds);
        f.programSeconds += seconds;

        auto lines = sim->LogLines("boot", "Program");
        lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(logBefore));
        f.frames += lines.size();
        f.resends += static_cast<std::size_t>(std::ranges::count_if(
            lines, [](const auto& line) { return line.find("resent=1") != std::string::npos; }));
        const auto times = Times(lines);
        if (times.size() < 3 || !simClock.Calibrated()) {
            state.SkipWithError("too few Program frames in the log, or no clock calibration");
            break;
        }
        f.firstFrameSeconds += Seconds(simClock.ToLocal(times.front()) - start);
        f.secondFrameSeconds += times[1] - times[0];
        for (std::size_t i = 2; i < times.size(); ++i) {
            f.frameIntervals.Add((times[i] - times[i - 1]) * 1e6);
        }
        f.lastReplySeconds += Seconds(programmed->when - simClock.ToLocal(times.back()));
    }
    if (state.error_occurred()) {
        return;
    }

    // What was measured must have been a correct programming: the module's CRC is the image's.
    link.SendCommand(ostrel::BootCommand::Verify, 3, 7000ms);
    const auto verified = NextEvent(listener, seen++, 30s);
    if (!IsReply(verified, ostrel::BootCommand::Verify) || verified->reply.length < 2 ||
        (verified->reply.data[0] | verified->reply.data[1] << 8) != link.ImageCrc()) {
        state.SkipWithError("the simulator's CRC does not match the image");
        return;
    }
    if (f.frames != framesPerRun * state.iterations() ||
        f.bareFrames != framesPerRun * state.iterations()) {
        state.SkipWithError("a sequence did not have the file's number of Program frames");
        return;
    }
    Report(state, f, framesPerRun);
}
BENCHMARK(ProgramFiveHundredTwelveKiB)
    ->ArgName("one_cpu")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
