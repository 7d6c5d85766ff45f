// The fleet window while 64 simulated modules update side by side (256 KiB each, offscreen):
// how often the table redraws while they program, the longest the window's thread was away from
// its event loop, and how much of a core the window's own thread uses beyond the
// links, which run on the engine's threads. Targets: at least 10 redraws a second, under 5 %.
#include "common/DottedAddress.h"
#include "fleet/qt/FleetWindow.h"
#include "tests/support/HexFileWriter.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <sys/resource.h>

#include <QApplication>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTest>

#include <benchmark/benchmark.h>

namespace {

using namespace ostrel;

// No test uses these: 127.0.46.1 and on.
std::string ModuleAt(std::size_t n) {
    return "127.0.46." + std::to_string(n + 1);
}

std::string MacOf(std::size_t n) {
    char text[18];
    std::snprintf(text, sizeof text, "00-50-C2-00-46-%02X", static_cast<unsigned>(n));
    return text;
}

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Counts the table's paints while some module is programming, and from the first to the last.
class PaintCounter final : public QObject {
public:
    explicit PaintCounter(const FleetTableModel& shown) : model(shown) {}

    bool eventFilter(QObject*, QEvent* event) override {
        const auto programming = [](const FleetRow& row) { return row.percent >= 0; };
        if (event->type() == QEvent::Paint && std::ranges::any_of(model.Rows(), programming)) {
            ++paints;
            if (!clock.isValid()) {
                clock.start();
            }
            programmingMs = clock.elapsed();
        }
        return false;
    }
    double PerSecond() const { return programmingMs > 0 ? 1000.0 * paints / programmingMs : 0; }

private:
    const FleetTableModel& model;
    long paints = 0;
    qint64 programmingMs = 0;
    QElapsedTimer clock;
};

// The longest time the window's thread did not come back to its event loop.
class StallProbe final : public QObject {
public:
    StallProbe() {
        timer.start(10, this);
        since.start();
    }
    void timerEvent(QTimerEvent*) override { longestMs = std::max(longestMs, since.restart()); }
    qint64 longestMs = 0;

private:
    QBasicTimer timer;
    QElapsedTimer since;
};

void WindowWhile64ModulesUpdate(benchmark::State& state) {
    const std::size_t modules = 64;
    const test::TempDir dir;
    const std::string firmware = dir.Write("firmware.hex", test::MakeFirmware(256 * 1024).Text());
    std::vector<std::unique_ptr<test::SimProcess>> sims;
    FleetWindowStart start{false, {}, {}};
    std::string error;
    try {
        for (std::size_t i = 0; i < modules; ++i) {
            sims.push_back(
                std::make_unique<test::SimProcess>(test::SimOptions{.address = ModuleAt(i),
                                                                    .port = 6234,
                                                                    .args = {"--mac", MacOf(i)},
                                                                    .log = false,
                                                                    .dump = false}));
            start.addresses.push_back(*ParseModuleAddress(ModuleAt(i), error));
            // The modules stand in for hardware of their own: on this machine's two cores they
            // must not starve the window they are measured against.
            setpriority(PRIO_PROCESS, static_cast<id_t>(sims.back()->Pid()), 10);
        }
    } catch (const std::runtime_error& failure) {
        state.SkipWithError(failure.what());
        return;
    }
    test::MessageRecorder messages;
    FleetWindow window(start, messages);
    window.resize(1100, 900);
    window.show();
    if (!QTest::qWaitFor([&] { return window.Model().rowCount() == 64 && !window.Busy(); })) {
        state.SkipWithError("the modules were not read");
        return;
    }
    PaintCounter counter(window.Model());
    window.Table().viewport()->installEventFilter(&counter);
    StallProbe stalls;
    double seconds = 0;
    double cpu = 0;
    for (auto _ : state) {
        window.Table().selectAll();
        const double cpuBefore = ThreadCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        window.StartUpdate(false, firmware, PlanUpdate(firmware), {});
        if (!QTest::qWaitFor([&] { return !window.Busy() && window.LastOutcome(); }, 300000)) {
            state.SkipWithError("the update did not end in time");
            return;
        }
        seconds = double(wall.elapsed()) / 1000.0;
        cpu = ThreadCpuSeconds() - cpuBefore;
    }
    if (!window.LastOutcome() || window.LastOutcome()->Count(ModuleResult::Done) != modules) {
        state.SkipWithError("not every module was updated");
        return;
    }
    state.counters["seconds"] = seconds;
    state.counters["redraws_per_s"] = counter.PerSecond();
    state.counters["longest_stall_ms"] = double(stalls.longestMs);
    state.counters["window_cpu_percent"] = 100.0 * cpu / seconds;
}
BENCHMARK(WindowWhile64ModulesUpdate)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
