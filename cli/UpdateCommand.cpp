#include "cli/Commands.h"
#include "cli/ConsoleReporter.h"
#include "cli/FileCheck.h"
#include "cli/FleetReport.h"
#include "cli/FleetTargets.h"
#include "cli/UpdateLoop.h"
#include "devices/MacText.h"

#include <algorithm>
#include <cstdio>
#include <variant>

namespace ostrel::cli {

namespace {

// One code for a run: the module's own for one module; for several, 0 when every one is done,
// the common code when all failed alike, 8 otherwise. An interrupt wins.
ExitCode RunCode(const std::vector<UpdateLoop::Module>& modules, bool interrupted) {
    if (interrupted) {
        return ExitCode::Interrupted;
    }
    const auto code = [](const UpdateLoop::Module& module) { return module.outcome->code; };
    if (modules.size() == 1) {
        return code(modules.front());
    }
    if (std::ranges::all_of(modules, [&](const auto& m) { return code(m) == ExitCode::Done; })) {
        return ExitCode::Done;
    }
    const ExitCode first = code(modules.front());
    const bool alike =
        std::ranges::all_of(modules, [&](const auto& m) { return code(m) == first; });
    return alike ? first : ExitCode::SomeFailed;
}

std::string MacText(const std::optional<MacAddress>& mac) {
    return mac ? ostrel::MacText(*mac) : std::string();
}

void Summarize(const std::vector<UpdateLoop::Module>& modules, ExitCode code, double seconds,
               Console& console) {
    std::size_t counts[5] = {};
    std::string failed;
    for (const UpdateLoop::Module& module : modules) {
        ++counts[static_cast<std::size_t>(module.outcome->result)];
        if (module.outcome->code != ExitCode::Done) {
            failed += (failed.empty() ? "" : ", ") + module.target.name + " (" +
                      std::to_string(ToInt(module.outcome->code)) + ")";
        }
    }
    const auto count = [&](ModuleResult result) {
        return counts[static_cast<std::size_t>(result)];
    };
    console.Json({{"event", "summary"},
                  {"modules", modules.size()},
                  {"done", count(ModuleResult::Done)},
                  {"unchanged", count(ModuleResult::Unchanged)},
                  {"verified", count(ModuleResult::Verified)},
                  {"failed", count(ModuleResult::Failed)},
                  {"interrupted", count(ModuleResult::Interrupted)},
                  {"exitCode", ToInt(code)},
                  {"seconds", seconds}});
    if (modules.size() > 1) {
        console.Say(std::to_string(modules.size()) +
                    " modules: " + std::to_string(count(ModuleResult::Done)) + " done, " +
                    std::to_string(count(ModuleResult::Unchanged)) + " unchanged, " +
                    std::to_string(count(ModuleResult::Verified)) + " verified, " +
                    std::to_string(count(ModuleResult::Failed)) + " failed, " +
                    std::to_string(count(ModuleResult::Interrupted)) + " interrupted" +
                    (failed.empty() ? "" : ": " + failed));
    }
}

} // namespace

ExitCode RunUpdate(const UpdateArguments& arguments, Console& console, const StopSignals& stop) {
    const auto started = std::chrono::steady_clock::now();
    UpdateJob job;
    job.file = arguments.file;
    auto plan = PlanOrSayWhy(arguments.file, console);
    if (!plan) {
        return ExitCode::BadFile;
    }
    if (!plan->Programmable()) {
        console.Error(WhyNotProgrammable(arguments.file, *plan));
        return ExitCode::BadFile;
    }
    std::optional<ReportFormat> reportFormat;
    std::optional<std::string> sha256;
    if (!arguments.reportFile.empty()) {
        reportFormat = ReportFormatOf(arguments.reportFile);
        sha256 = Sha256OfFile(arguments.file);
        if (!reportFormat || !sha256) {
            console.Error(!reportFormat ? "a report is a .json or a .csv file"
                                        : "cannot read " + arguments.file);
            return !reportFormat ? ExitCode::Usage : ExitCode::BadFile;
        }
    }
    for (const auto& warning : plan->warnings) {
        console.Warn(arguments.file + ": " + warning.text);
    }
    job.plan = std::move(*plan);
    job.options.mode = arguments.mode;
    job.options.timing = UpdateTiming{}.Adjusted(arguments.attempts, arguments.timeoutScale);
    job.confirm = arguments.confirm;

    TargetChoice choice{arguments.modules, arguments.targetsFile, arguments.all, arguments.matches,
                        arguments.discovery};
    auto resolved = ResolveTargets(choice, console, stop);
    if (const auto* code = std::get_if<ExitCode>(&resolved)) {
        return *code;
    }
    auto targets = std::get<std::vector<FleetTarget>>(std::move(resolved));
    if (reportFormat) {
        ReadVersionsBefore(targets, std::chrono::seconds(2), stop);
    }

    std::vector<ModuleTarget> modules;
    for (const FleetTarget& target : targets) {
        modules.push_back({target.address, FormatDottedQuad(target.address), MacText(target.mac)});
    }
    ConsoleReporter reporter(console);
    UpdateLoop loop(job, modules, {arguments.parallel, arguments.retries}, reporter, stop);
    const bool whole = loop.Run();
    const ExitCode code = RunCode(loop.Modules(), !whole);
    Summarize(loop.Modules(), code,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
              console);

    if (reportFormat) {
        std::vector<ReportRow> rows;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const UpdateLoop::Module& module = loop.Modules()[i];
            const ModuleOutcome& outcome = *module.outcome;
            rows.push_back(
                {module.target.name, module.target.mac.empty() ? outcome.mac : module.target.mac,
                 outcome.name.empty() ? targets[i].name : outcome.name, targets[i].versionBefore,
                 outcome.version, std::string(ResultName(outcome.result)), ToInt(outcome.code),
                 outcome.tries, outcome.seconds,
                 outcome.error.empty() ? std::string()
                                       : outcome.error + "; the module is left " + outcome.leftIn});
        }
        const ReportImage image{arguments.file, job.plan.verify.start, job.plan.verify.length,
                                job.plan.verify.crc, *sha256};
        std::string error;
        if (!WriteReport(arguments.reportFile, *reportFormat, image, rows, error)) {
            console.Error(error);
            return code == ExitCode::Done ? ExitCode::Failed : code;
        }
        console.Say("report: " + arguments.reportFile);
    }
    return code;
}

} // namespace ostrel::cli
