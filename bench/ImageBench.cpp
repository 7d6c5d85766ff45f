// Speed of the two passes an update makes over its firmware, the CRC-16 of a whole image and
// the build of the image from a HEX file, and of the console's plan of an update (target: a
// 512 KiB firmware in under 20 ms).
#include "image/Crc16.h"
#include "image/HexImage.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/TempDir.h"
#include "update/UpdatePlan.h"

#include <vector>

#include <benchmark/benchmark.h>

namespace {

void Crc16OverFiveMebibytes(benchmark::State& state) {
    std::vector<std::uint8_t> data(5 * 1024 * 1024);
    std::uint32_t x = 1;
    for (auto& b : data) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(ostrel::Crc16(data));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(Crc16OverFiveMebibytes)->Unit(benchmark::kMillisecond);

void BuildImageFrom512KiBHexFile(benchmark::State& state) {
    const ostrel::test::TempDir dir;
    const auto hex = ostrel::test::MakeFirmware(512 * 1024, 16);
    const std::string path = dir.Write("firmware.hex", hex.Text());
    ostrel::HexImage image;
    if (!image.Open(path)) {
        state.SkipWithError("cannot open the HEX file");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(image.Build());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * hex.Text().size()));
    state.counters["file_bytes"] = static_cast<double>(hex.Text().size());
}
BENCHMARK(BuildImageFrom512KiBHexFile)->Unit(benchmark::kMillisecond);

void PlanUpdateOf512KiBHexFile(benchmark::State& state) {
    const ostrel::test::TempDir dir;
    const std::string path =
        dir.Write("firmware.hex", ostrel::test::MakeFirmware(512 * 1024, 16).Text());
    for (auto _ : state) {
        const ostrel::UpdatePlan plan = ostrel::PlanUpdate(path);
        if (!plan.Programmable()) {
            state.SkipWithError("the plan found nothing to program");
            return;
        }
        benchmark::DoNotOptimize(plan.programFrames);
    }
}
BENCHMARK(PlanUpdateOf512KiBHexFile)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
