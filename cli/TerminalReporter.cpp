#include "cli/TerminalReporter.h"

#include "cli/PlainReporter.h"

#include <algorithm>
#include <cstdio>

namespace ostrel::cli {

namespace {

constexpr auto redrawEvery = std::chrono::milliseconds(100);

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace

TerminalReporter::~TerminalReporter() {
    Redraw(true);
}

TerminalReporter::Bar& TerminalReporter::BarOf(const ModuleTally& tally) {
    const auto index = static_cast<std::size_t>(&tally - tallies.All().data());
    if (bars.size() <= index) {
        bars.resize(index + 1);
    }
    return bars[index];
}

void TerminalReporter::Start(const ModuleTarget& module, const std::string&,
                             const UpdatePlan& plan) {
    BarOf(tallies.Restart(module, plan)) = Bar{};
    Redraw(true);
}

void TerminalReporter::PhaseBegins(const ModuleTarget& module, Phase phase) {
    ModuleTally& tally = tallies.Of(module);
    BarOf(tally).phase = PhaseDescription(phase);
    if (phase == Phase::Program) {
        tally.programStarted = ModuleTally::Clock::now();
    }
    Redraw(true); // a phase shows at once, however soon after the last drawing
}

void TerminalReporter::Progress(const ModuleTarget& module, std::uint32_t done,
                                std::uint32_t total) {
    tallies.Of(module).NewTenth(done, total);
    Redraw(false);
}

void TerminalReporter::TryAgain(const ModuleTarget& module, const ModuleOutcome& failed,
                                unsigned nextTry) {
    Redraw(true);
    console.Say(TryAgainText(module, failed, nextTry));
}

void TerminalReporter::End(const ModuleTarget& module, const ModuleOutcome& outcome) {
    Bar& bar = BarOf(tallies.Of(module));
    bar.ended = true;
    bar.endText = EndText(module, outcome);
    Redraw(true);
    if (outcome.code != ExitCode::Done) {
        console.Error(FailureLine(module, outcome));
    }
}

std::string TerminalReporter::BarText(const ModuleTally& tally, int width) {
    const Bar& bar = BarOf(tally);
    if (bar.ended) {
        return bar.endText;
    }
    std::string text = tally.module + "  " + bar.phase;
    if (bar.phase != "programming" || tally.total == 0 || tally.plan == nullptr) {
        return text;
    }
    const std::uint32_t done = std::min(tally.done, tally.total);
    const int percent = static_cast<int>(100ull * done / tally.total);
    const int barWidth = std::clamp(width - static_cast<int>(text.size()) - 50, 10, 40);
    const int filled = barWidth * percent / 100;
    const double elapsed =
        std::chrono::duration<double>(ModuleTally::Clock::now() - tally.programStarted).count();
    const double left = done > 0 ? elapsed * (tally.total - done) / done : 0;
    text += " [" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(barWidth - filled), '-') + "] " +
            std::to_string(percent) + "%  " + std::to_string(tally.FramesDone()) + "/" +
            std::to_string(tally.plan->programFrames) + " frames  " +
            Fixed(tally.BytesPerSecond() / 1000, 1) + " kB/s  " + Fixed(left, 1) + " s left";
    return text;
}

std::string TerminalReporter::TotalText() const {
    const auto ended = std::ranges::count_if(bars, &Bar::ended);
    return "total: " + std::to_string(ended) + " of " + std::to_string(tallies.All().size()) +
           " modules ended";
}

void TerminalReporter::Redraw(bool now) {
    const auto at = ModuleTally::Clock::now();
    if (!now && at - lastDraw < redrawEvery) {
        return;
    }
    lastDraw = at;
    const int width = console.TerminalWidth();
    std::string text;
    if (drawnLines > 0) {
        text += "\x1b[" + std::to_string(drawnLines) + "A"; // back to the first line drawn
    }
    for (const ModuleTally& tally : tallies.All()) {
        text +=
            "\r\x1b[2K" + BarText(tally, width).substr(0, static_cast<std::size_t>(width)) + "\n";
    }
    int count = static_cast<int>(tallies.All().size());
    if (tallies.All().size() > 1) {
        text += "\r\x1b[2K" + TotalText() + "\n";
        ++count;
    }
    drawnLines = count;
    console.Draw(text);
}

} // namespace ostrel::cli
