// Speed of the frame codec: building Program frames from a HEX file, the work the link's worker
// does between a reply and the next frame, and decoding replies.
#include "bootlink/FrameBuilder.h"
#include "bootlink/FrameDecoder.h"
#include "image/HexImage.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestFrames.h"

#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

void EncodeProgramFrames(benchmark::State& state) {
    const ostrel::test::TempDir dir;
    const auto hex = ostrel::test::MakeFirmware(512 * 1024, 16);
    ostrel::HexImage image;
    if (!image.Open(dir.Write("firmware.hex", hex.Text()))) {
        state.SkipWithError("cannot open the HEX file");
        return;
    }
    ostrel::FrameBuilder builder;
    bool restart = true; // the file is positioned at its end after Open
    std::int64_t frames = 0;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        if (!builder.Build(ostrel::BootCommand::Program, image, restart)) {
            // The file has ended: start over, as the update's first frame does.
            if (!builder.Build(ostrel::BootCommand::Program, image, true)) {
                state.SkipWithError("no Program frame from the start of the file");
                return;
            }
        }
        restart = false;
        benchmark::DoNotOptimize(builder.Frame().data());
        ++frames;
        bytes += static_cast<std::int64_t>(builder.Frame().size());
    }
    state.SetBytesProcessed(bytes);
    state.counters["frames"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["frame_bytes"] =
        frames == 0 ? 0.0 : static_cast<double>(bytes) / static_cast<double>(frames);
}
BENCHMARK(EncodeProgramFrames);

// A reply of payloadLength bytes with a pattern that includes the escaped values.
Bytes PatternPayload(std::uint8_t command, std::size_t payloadLength, std::uint32_t seed) {
    Bytes payload{command};
    std::uint32_t x = seed;
    while (payload.size() < payloadLength) {
        x = x * 1664525u + 1013904223u;
        payload.push_back(static_cast<std::uint8_t>(x >> 24));
    }
    return payload;
}

// The largest reply that one receive of the link accepts: an escaped frame of exactly 245
// bytes, with some escapes in it.
Bytes FullSizeReply(std::uint32_t seed) {
    constexpr std::size_t datagram = 245;
    for (std::uint32_t s = seed;; ++s) {
        for (std::size_t length = 241; length > 100; --length) {
            Bytes frame = ostrel::test::EncodeTestFrame(PatternPayload(3, length, s));
            if (frame.size() == datagram) {
                return frame;
            }
            if (frame.size() < datagram) {
                break; // shorter payloads only give shorter frames
            }
        }
    }
}

// Feeds each frame as one datagram and checks that it was taken, as the worker's receive does.
void DecodeFrames(benchmark::State& state, const std::vector<Bytes>& frames) {
    ostrel::FrameDecoder decoder;
    std::int64_t bytes = 0;
    std::int64_t decoded = 0;
    for (auto _ : state) {
        for (const Bytes& frame : frames) {
            decoder.DecodeBytes(frame);
            if (!decoder.FrameReady()) {
                state.SkipWithError("a good reply frame was not decoded");
                return;
            }
            benchmark::DoNotOptimize(decoder.ReplyData().data());
            decoder.ClearFrameReady();
            bytes += static_cast<std::int64_t>(frame.size());
        }
        decoded += static_cast<std::int64_t>(frames.size());
    }
    state.SetBytesProcessed(bytes);
    state.counters["frames"] =
        benchmark::Counter(static_cast<double>(decoded), benchmark::Counter::kIsRate);
}

void DecodeTypicalReplies(benchmark::State& state) {
    // What an update receives: Erase, many Program, one Verify (module CRC), and a Query reply.
    std::vector<Bytes> frames;
    frames.push_back(ostrel::test::EncodeTestFrame(Bytes{2}));
    for (int i = 0; i < 12; ++i) {
        frames.push_back(ostrel::test::EncodeTestFrame(Bytes{3}));
    }
    frames.push_back(ostrel::test::EncodeTestFrame(Bytes{4, 0x41, 0x10}));
    frames.push_back(ostrel::test::EncodeTestFrame(Bytes{1, 1, 4}));
    DecodeFrames(state, frames);
}
BENCHMARK(DecodeTypicalReplies);

void DecodeFullSizeReplies(benchmark::State& state) {
    const std::vector<Bytes> frames{FullSizeReply(1), FullSizeReply(2), FullSizeReply(3)};
    DecodeFrames(state, frames);
}
BENCHMARK(DecodeFullSizeReplies);

} // namespace

BENCHMARK_MAIN();
