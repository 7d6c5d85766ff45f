// A fleet update by the console: N modules simulated by one vexa-sim process on consecutive
// loopback addresses, each updated with a 64 KiB firmware side by side, beside one module
// updated alone in the same run. Targets: 256 modules in at most 1.2 times one module's time,
// 1,024 in at most 1.5; the console's CPU time per module at most 5 ms and its peak memory at
// most 64 KiB per module.
#include "tests/support/ChildProcess.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// No test uses these addresses: 127.0.60.1 and on, 250 to a block.
std::string ModuleAt(std::size_t n) {
    return "127.0." + std::to_string(60 + n / 250) + "." + std::to_string(n % 250 + 1);
}

// The CPU time the simulators have used so far: what shares the two cores with the console.
double SimulatorSeconds(const std::vector<std::unique_ptr<ostrel::test::SimProcess>>& sims) {
    double seconds = 0;
    for (const auto& sim : sims) {
        std::ifstream stat("/proc/" + std::to_string(sim->Pid()) + "/stat");
        std::string field;
        std::getline(stat, field, ')'); // the name may hold spaces
        for (int i = 3; i <= 13 && stat >> field; ++i) {
        }
        double user = 0;
        double system = 0;
        stat >> user >> system;
        seconds += (user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    return seconds;
}

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;
    double peakMegabytes = 0;
};

std::optional<Run> Update(const std::string& firmware, std::size_t modules,
                          benchmark::State& state) {
    std::vector<std::string> args = {"--quiet", "update", firmware};
    for (std::size_t i = 0; i < modules; ++i) {
        args.insert(args.end(), {"--ip", ModuleAt(i)});
    }
    const auto start = Clock::now();
    ostrel::test::ChildProcess cli(OSTREL_CLI_PATH, args);
    const auto status = cli.WaitForExit(300s);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (status != 0 || !cli.Usage()) {
        state.SkipWithError(("the update did not succeed, status " +
                             (status ? std::to_string(*status) : std::string("none in time")))
                                .c_str());
        return std::nullopt;
    }
    const rusage& used = *cli.Usage();
    const auto cpu = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return Run{seconds, cpu(used.ru_utime) + cpu(used.ru_stime), used.ru_maxrss / 1024.0};
}

void FleetOf64KiBUpdates(benchmark::State& state) {
    const auto modules = static_cast<std::size_t>(state.range(0));
    const ostrel::test::TempDir dir;
    const std::string firmware =
        dir.Write("firmware.hex", ostrel::test::MakeFirmware(64 * 1024, 16).Text());
    // One process per block of 250 consecutive addresses.
    std::vector<std::unique_ptr<ostrel::test::SimProcess>> sims;
    try {
        for (std::size_t first = 0; first < modules; first += 250) {
            const std::size_t count = std::min<std::size_t>(250, modules - first);
            sims.push_back(std::make_unique<ostrel::test::SimProcess>(
                ostrel::test::SimOptions{.address = ModuleAt(first),
                                         .port = 6234,
                                         .args = {"--modules", std::to_string(count)},
                                         .log = false,
                                         .dump = false}));
        }
    } catch (const std::runtime_error& error) {
        state.SkipWithError(error.what());
        return;
    }
    Run one;
    Run fleet;
    double simSeconds = 0;
    for (auto _ : state) {
        const auto alone = Update(firmware, 1, state);
        const double simBefore = SimulatorSeconds(sims);
        const auto all = alone ? Update(firmware, modules, state) : std::nullopt;
        if (!all) {
            return;
        }
        simSeconds = SimulatorSeconds(sims) - simBefore;
        one = *alone;
        fleet = *all;
        state.SetIterationTime(fleet.seconds);
    }
    auto& c = state.counters;
    c["modules"] = static_cast<double>(modules);
    c["one_s"] = one.seconds;
    c["fleet_s"] = fleet.seconds;
    c["fleet_per_one"] = fleet.seconds / one.seconds; // targets: 1.2 for 256, 1.5 for 1,024
    c["cpu_ms_per_module"] = fleet.cpuSeconds * 1e3 / static_cast<double>(modules);
    c["peak_MiB"] = fleet.peakMegabytes;
    c["peak_KiB_per_module"] = fleet.peakMegabytes * 1024 / static_cast<double>(modules);
    c["one_peak_MiB"] = one.peakMegabytes;
    // What no scheduling could beat here: one module's time, plus the CPU time the console and
    // the simulators spent, spread over every core they share.
    const double cores = std::max(1.0, static_cast<double>(std::thread::hardware_concurrency()));
    c["sim_cpu_s"] = simSeconds;
    c["cpu_floor_per_one"] = (one.seconds + (fleet.cpuSeconds + simSeconds) / cores) / one.seconds;
}
BENCHMARK(FleetOf64KiBUpdates)
    ->Arg(1)
    ->Arg(64)
    ->Arg(256)
    ->Arg(1024)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
