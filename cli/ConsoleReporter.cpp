#include "cli/ConsoleReporter.h"

#include "common/HexText.h"

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

std::string Described(Phase phase) {
    switch (phase) {
    case Phase::Wake:
        return "waking the bootloader";
    case Phase::Check:
        return "asking the module's CRC";
    case Phase::Erase:
        return "erasing";
    case Phase::Program:
        return "programming";
    case Phase::Verify:
        return "verifying";
    case Phase::Run:
        return "starting the application";
    case Phase::Confirm:
        return "waiting for the application";
    }
    return "?";
}

std::uint32_t FramesDone(const UpdatePlan& plan, std::uint32_t done, std::uint32_t total) {
    if (total == 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(std::uint64_t{plan.programFrames} * std::min(done, total) /
                                      total);
}

} // namespace

ConsoleReporter::ConsoleReporter(Console& out)
    : console(out), bars(out.HumanOnTerminal() && !out.Quiet()) {}

ConsoleReporter::~ConsoleReporter() {
    Redraw(true);
}

ConsoleReporter::Line& ConsoleReporter::Of(const ModuleTarget& module) {
    const auto found = std::ranges::find(lines, module.name, &Line::module);
    if (found != lines.end()) {
        return *found;
    }
    Line line;
    line.module = module.name;
    lines.push_back(line);
    return lines.back();
}

nlohmann::json ConsoleReporter::Event(const char* name, const ModuleTarget& module) const {
    nlohmann::json event = {{"event", name}, {"module", module.name}};
    if (!module.mac.empty()) {
        event["mac"] = module.mac;
    }
    return event;
}

double ConsoleReporter::Seconds(const Line& line) const {
    return std::chrono::duration<double>(Clock::now() - line.started).count();
}

void ConsoleReporter::Start(const ModuleTarget& module, const std::string& file,
                            const UpdatePlan& plan) {
    Line& line = Of(module);
    line = Line{};
    line.module = module.name;
    line.plan = &plan;
    line.started = Clock::now();
    nlohmann::json event = Event("start", module);
    event.update({{"file", file},
                  {"start", HexText(plan.verify.start, 8)},
                  {"length", plan.verify.length},
                  {"crc", HexText(plan.verify.crc, 4)},
                  {"frames", plan.programFrames},
                  {"lines", plan.lines}});
    console.Json(event);
    if (!bars) {
        console.Say(module.name + ": " + file + ": " + std::to_string(plan.recordLines) +
                    " records in " + std::to_string(plan.programFrames) + " frames; Verify " +
                    HexText(plan.verify.start, 8) + " + " + std::to_string(plan.verify.length) +
                    " bytes, CRC " + HexText(plan.verify.crc, 4));
    }
    Redraw(true);
}

void ConsoleReporter::PhaseBegins(const ModuleTarget& module, Phase phase) {
    Line& line = Of(module);
    line.phase = Described(phase);
    if (phase == Phase::Program) {
        line.programStarted = Clock::now();
    }
    nlohmann::json event = Event("phase", module);
    event.update({{"phase", PhaseName(phase)}, {"seconds", Seconds(line)}});
    console.Json(event);
    if (bars) {
        Redraw(true); // a phase shows at once, however soon after the last drawing
    } else {
        console.Say(module.name + ": " + line.phase);
    }
}

void ConsoleReporter::Progress(const ModuleTarget& module, std::uint32_t done,
                               std::uint32_t total) {
    Line& line = Of(module);
    line.done = done;
    line.total = total;
    Redraw(false);
    // A tenth at a time: logs stay short.
    const int tenths = total == 0 ? 0 : static_cast<int>(10ull * std::min(done, total) / total);
    if (tenths <= line.tenthsShown) {
        return;
    }
    line.tenthsShown = tenths;
    const std::uint32_t frames = FramesDone(*line.plan, done, total);
    const double elapsed =
        std::chrono::duration<double>(Clock::now() - line.programStarted).count();
    const double bytes = double(line.plan->dataBytes) * std::min(done, total) / std::max(total, 1u);
    nlohmann::json event = Event("progress", module);
    event.update({{"done", done},
                  {"total", total},
                  {"percent", tenths * 10},
                  {"frames", frames},
                  {"bytesPerSecond", elapsed > 0 ? bytes / elapsed : 0.0}});
    console.Json(event);
    if (!bars) {
        console.Say(module.name + ": programming " + std::to_string(tenths * 10) + "% (" +
                    std::to_string(frames) + "/" + std::to_string(line.plan->programFrames) +
                    " frames)");
    }
}

void ConsoleReporter::Retry(const ModuleTarget& module, BootCommand command, std::uint16_t send) {
    nlohmann::json event = Event("retry", module);
    event.update({{"command", BootCommandName(command)}, {"send", send}});
    console.Json(event);
    if (!bars) {
        console.Say(module.name + ": " + std::string(BootCommandName(command)) +
                    " sent again (send " + std::to_string(send) + ")");
    }
}

void ConsoleReporter::Again(const ModuleTarget& module, const ModuleOutcome& failed,
                            unsigned nextTry) {
    nlohmann::json event = Event("again", module);
    event.update({{"try", nextTry}, {"error", failed.error}, {"exitCode", ToInt(failed.code)}});
    console.Json(event);
    const std::string text = module.name + ": " + failed.error + "; trying again from the " +
                             "wake string (try " + std::to_string(nextTry) + ")";
    if (bars) {
        Redraw(true);
    }
    console.Say(text);
}

void ConsoleReporter::End(const ModuleTarget& module, const ModuleOutcome& outcome) {
    Line& line = Of(module);
    line.ended = true;
    const UpdatePlan& plan = *line.plan;
    nlohmann::json event = Event("end", module);
    event.update({{"result", ResultName(outcome.result)},
                  {"exitCode", ToInt(outcome.code)},
                  {"start", HexText(plan.verify.start, 8)},
                  {"length", plan.verify.length},
                  {"crc", HexText(plan.verify.crc, 4)},
                  {"frames", plan.programFrames},
                  {"seconds", outcome.seconds},
                  {"tries", outcome.tries}});
    event["moduleCrc"] =
        outcome.moduleCrc ? nlohmann::json(HexText(*outcome.moduleCrc, 4)) : nullptr;
    event["name"] = outcome.name.empty() ? nlohmann::json(nullptr) : nlohmann::json(outcome.name);
    event["version"] =
        outcome.version.empty() ? nlohmann::json(nullptr) : nlohmann::json(outcome.version);
    if (!outcome.error.empty()) {
        event["error"] = outcome.error;
        event["leftIn"] = outcome.leftIn;
    }
    console.Json(event);

    const std::string took = " in " + Fixed(outcome.seconds, 2) + " s";
    if (outcome.code == ExitCode::Done) {
        std::string text = module.name + ": " + std::string(ResultName(outcome.result)) + took;
        if (!outcome.name.empty()) {
            text += "; the application answers: " + outcome.name + " " + outcome.version;
        }
        line.endText = text;
        if (bars) {
            Redraw(true);
        } else {
            console.Say(text);
        }
        return;
    }
    line.endText = module.name + ": " + std::string(ResultName(outcome.result)) + took;
    Redraw(true);
    console.Error(module.name + ": " + outcome.error + "; the module is left " + outcome.leftIn);
}

std::string ConsoleReporter::BarText(const Line& line, int width) const {
    if (line.ended) {
        return line.endText;
    }
    std::string text = line.module + "  " + line.phase;
    if (line.phase != "programming" || line.total == 0 || line.plan == nullptr) {
        return text;
    }
    const std::uint32_t done = std::min(line.done, line.total);
    const int percent = static_cast<int>(100ull * done / line.total);
    const int barWidth = std::clamp(width - static_cast<int>(text.size()) - 50, 10, 40);
    const int filled = barWidth * percent / 100;
    const double elapsed =
        std::chrono::duration<double>(Clock::now() - line.programStarted).count();
    const double bytes = double(line.plan->dataBytes) * done / line.total;
    const double rate = elapsed > 0 ? bytes / elapsed : 0;
    const double left = done > 0 ? elapsed * (line.total - done) / done : 0;
    text += " [" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(barWidth - filled), '-') + "] " +
            std::to_string(percent) + "%  " +
            std::to_string(FramesDone(*line.plan, done, line.total)) + "/" +
            std::to_string(line.plan->programFrames) + " frames  " + Fixed(rate / 1000, 1) +
            " kB/s  " + Fixed(left, 1) + " s left";
    return text;
}

std::string ConsoleReporter::TotalText() const {
    const auto ended = std::ranges::count_if(lines, &Line::ended);
    return "total: " + std::to_string(ended) + " of " + std::to_string(lines.size()) +
           " modules ended";
}

void ConsoleReporter::Redraw(bool now) {
    if (!bars) {
        return;
    }
    const auto at = Clock::now();
    if (!now && at - lastDraw < redrawEvery) {
        return;
    }
    lastDraw = at;
    const int width = console.TerminalWidth();
    std::string text;
    if (drawnLines > 0) {
        text += "\x1b[" + std::to_string(drawnLines) + "A"; // back to the first line drawn
    }
    for (const Line& line : lines) {
        text +=
            "\r\x1b[2K" + BarText(line, width).substr(0, static_cast<std::size_t>(width)) + "\n";
    }
    int count = static_cast<int>(lines.size());
    if (lines.size() > 1) {
        text += "\r\x1b[2K" + TotalText() + "\n";
        ++count;
    }
    drawnLines = count;
    console.Draw(text);
}

} // namespace ostrel::cli
