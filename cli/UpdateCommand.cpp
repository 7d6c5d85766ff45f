#include "cli/Commands.h"
#include "cli/ConsoleReporter.h"
#include "cli/FileCheck.h"
#include "cli/LinkReportQueue.h"
#include "cli/ModuleUpdate.h"
#include "cli/UpdateLoop.h"

#include <algorithm>
#include <memory>

namespace ostrel::cli {

namespace {

// One code for a run: the module's own for one module; for several, 0 when every one is done,
// the common code when all failed alike, 8 otherwise. An interrupt wins.
ExitCode RunCode(const std::vector<std::unique_ptr<ModuleUpdate>>& updates, bool interrupted) {
    if (interrupted) {
        return ExitCode::Interrupted;
    }
    if (updates.size() == 1) {
        return updates.front()->Outcome().code;
    }
    const auto done = [](const auto& update) { return update->Outcome().code == ExitCode::Done; };
    if (std::ranges::all_of(updates, done)) {
        return ExitCode::Done;
    }
    const ExitCode first = updates.front()->Outcome().code;
    const bool allAlike = std::ranges::all_of(
        updates, [&](const auto& update) { return update->Outcome().code == first; });
    return allAlike ? first : ExitCode::SomeFailed;
}

} // namespace

ExitCode RunUpdate(const UpdateArguments& arguments, Console& console, const StopSignals& stop) {
    UpdateJob job;
    job.file = arguments.file;
    auto plan = PlanOrSayWhy(arguments.file, console);
    if (!plan) {
        return ExitCode::BadFile;
    }
    if (!plan->Programmable()) {
        console.Error(arguments.file + " holds no Intel HEX record to program");
        return ExitCode::BadFile;
    }
    for (const auto& warning : plan->warnings) {
        console.Warn(arguments.file + ": " + warning.text);
    }
    job.plan = std::move(*plan);
    job.options.mode = arguments.mode;
    job.options.timing = UpdateTiming{}.Adjusted(arguments.attempts, arguments.timeoutScale);
    job.confirm = arguments.confirm;

    LinkReportQueue queue;
    ConsoleReporter reporter(console);
    std::vector<std::unique_ptr<ModuleUpdate>> updates;
    for (const DeviceAddress module : arguments.modules) {
        updates.push_back(std::make_unique<ModuleUpdate>(
            ModuleTarget{module, FormatDottedQuad(module)}, job, reporter, queue, updates.size()));
    }
    UpdateLoop loop(queue, stop, arguments.parallel);
    const bool whole = loop.Run(updates);
    return RunCode(updates, !whole);
}

} // namespace ostrel::cli
