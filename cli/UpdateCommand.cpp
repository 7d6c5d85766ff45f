#include "cli/UpdateCommand.h"

#include "cli/Arguments.h"
#include "cli/FileCheck.h"
#include "cli/ReporterSet.h"
#include "devices/MacText.h"
#include "fleet/FleetOutcome.h"
#include "fleet/LedgerListener.h"
#include "fleet/OpenFileLimit.h"

namespace ostrel::cli {

namespace {

// Where the report goes and what it names; nothing, with the reason and the code, when it
// cannot be had.
struct ReportPlan {
    std::optional<ReportFormat> format;
    std::string sha256;
};

// The file's SHA-256 is read for a report or the ledger.
std::optional<ReportPlan> PlanReport(const std::string& reportFile, const std::string& file,
                                     bool forLedger, Console& console, ExitCode& code) {
    if (reportFile.empty() && !forLedger) {
        return ReportPlan{};
    }
    const auto format = reportFile.empty() ? std::nullopt : ReportFormatOf(reportFile);
    const auto sha256 = Sha256OfFile(file);
    if ((!reportFile.empty() && !format) || !sha256) {
        const bool badName = !reportFile.empty() && !format;
        console.Error(badName ? "a report is a .json or a .csv file" : "cannot read " + file);
        code = badName ? ExitCode::Usage : ExitCode::BadFile;
        return std::nullopt;
    }
    return ReportPlan{format, *sha256};
}

} // namespace

UpdateCommand::UpdateCommand(CLI::App& app, Kind chosen) : kind(chosen) {
    if (kind == Kind::Verify) {
        command =
            app.add_subcommand("verify", "compare a module's flash with a HEX file, and start it");
        command->add_option("file", file, "the Intel HEX file")->required();
        command->add_option("--ip", ipTexts, "the module's address")->required();
        command->add_flag("--no-confirm", noConfirm,
                          "do not wait for the application to answer after Run");
        return;
    }
    command = app.add_subcommand("update", "program a HEX file into one module or many at once");
    command->add_option("file", file, "the Intel HEX file")->required();
    command->add_option("--ip", ipTexts, "a module's address (repeatable)");
    command->add_option("--targets", targetsFile,
                        "a file of modules: an address or a MAC per line, # comments");
    command->add_flag("--all", all, "every module that discovery finds");
    command->add_option("--match", matches,
                        "the discovered modules whose FIELD=TEXT: name, identification, version "
                        "(shell patterns) or mac (a prefix); repeatable, all must hold");
    command->add_option("--interface", interfaces,
                        "discovery asks only through this interface (repeatable)");
    command->add_option("--to", toTexts, "discovery asks this address too");
    command->add_option("--wait", waitSeconds, "seconds discovery waits (2)");
    command->add_option("--parallel", parallel, "at most so many modules at once (all)");
    command
        ->add_option("--retries", retries,
                     "update a module that failed again, so many more times (0)")
        ->check(CLI::Range(0, 100));
    command->add_option("--report", reportFile, "write a report, FILE.json or FILE.csv");
    command->add_flag("--skip-same", skipSame,
                      "ask the module's CRC first; if it holds the image, only start it");
    command->add_flag("--no-confirm", noConfirm,
                      "do not wait for the application to answer after Run");
    command->add_option("--unless-version", unlessVersion,
                        "leave a module that already runs this version alone (unchanged)");
    command->add_option("--attempts", attempts, "sends of Erase, Program and Verify (3)")
        ->check(CLI::Range(1, 1000));
    command
        ->add_option("--timeout-scale", timeoutScale, "stretch every time-out, for slow links (1)")
        ->check(CLI::Range(0.1, 100.0));
}

bool UpdateCommand::ReadOptions(TargetChoice& choice, std::string& error) const {
    choice.targetsFile = targetsFile;
    choice.all = all;
    choice.matches = matches;
    choice.discovery.interfaces = interfaces;
    choice.discovery.waitSeconds = waitSeconds;
    if (!ReadEach(&ParseModuleAddress, ipTexts, choice.addresses, error) ||
        !ReadDiscoveryChoice(toTexts, choice.discovery, error)) {
        return false;
    }
    if (choice.addresses.empty() && choice.targetsFile.empty() && !choice.all &&
        choice.matches.empty()) {
        error = "name the modules: --ip, --targets, --all or --match";
        return false;
    }
    return true;
}

std::optional<UpdateJob> UpdateCommand::PlanJob(Console& console) const {
    auto plan = PlanOrSayWhy(file, console);
    if (!plan) {
        return std::nullopt;
    }
    if (!plan->Programmable()) {
        console.Error(WhyNotProgrammable(file, *plan));
        return std::nullopt;
    }
    UpdateJob job;
    job.file = file;
    job.plan = std::move(*plan);
    job.options.mode = kind == Kind::Verify ? UpdateMode::VerifyOnly
                       : skipSame           ? UpdateMode::ProgramUnlessSame
                                            : UpdateMode::Program;
    job.options.timing = UpdateTiming{}.Adjusted(attempts, timeoutScale);
    job.confirm = !noConfirm;
    return job;
}

ExitCode UpdateCommand::Run(Console& console, const StopSignals& stop, LedgerAccess& ledger) {
    const auto started = std::chrono::steady_clock::now();
    TargetChoice choice;
    std::string error;
    if (!ReadOptions(choice, error)) {
        console.Error(error);
        return ExitCode::Usage;
    }
    const auto job = PlanJob(console);
    if (!job) {
        return ExitCode::BadFile;
    }
    LedgerRecorder* recorder = ledger.ForRecording(console);
    if (recorder == nullptr) {
        return ExitCode::Failed;
    }
    ExitCode code = ExitCode::Done;
    const auto report = PlanReport(reportFile, file, recorder->Recording(), console, code);
    if (!report) {
        return code;
    }
    for (const auto& warning : job->plan.warnings) {
        console.Warn(file + ": " + warning.text);
    }
    auto resolved = ResolveTargets(choice, console, stop.Fd(), recorder);
    if (const auto* failure = std::get_if<ExitCode>(&resolved)) {
        return *failure;
    }
    auto targets = std::get<std::vector<FleetTarget>>(std::move(resolved));
    std::size_t atOnce = parallel == 0 ? targets.size() : std::min(parallel, targets.size());
    if (report->format || !unlessVersion.empty()) {
        atOnce = std::max(atOnce, (targets.size() + 3) / 4); // one probe each, all at once
    }
    if (const auto tooMany = RaiseOpenFileLimitFor(atOnce)) {
        console.Error(*tooMany);
        return ExitCode::Failed;
    }
    if (report->format || !unlessVersion.empty()) {
        ReadVersionsBefore(targets, std::chrono::seconds(2), stop.Fd());
    }
    ReporterSet reporters(console);
    LedgerListener recording(reporters, *recorder, *job, report->sha256);
    const FleetPolicy policy{parallel, retries,
                             unlessVersion.empty() ? std::nullopt : std::optional(unlessVersion)};
    FleetUpdate fleet(*job, ModuleTargetsOf(targets), policy, recording, stop.Fd());
    const bool whole = fleet.Run();
    code = OutcomeOf(fleet.Modules(), !whole).code;
    Summarize(fleet.Modules(), !whole,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
              console);
    if (report->format) {
        const ReportImage image{file, job->plan.verify.start, job->plan.verify.length,
                                job->plan.verify.crc, report->sha256};
        if (!WriteReport(reportFile, *report->format, image, ReportRows(targets, fleet.Modules()),
                         error)) {
            console.Error(error);
            return code == ExitCode::Done ? ExitCode::Failed : code;
        }
        console.Say("report: " + reportFile);
    }
    return code;
}

void UpdateCommand::Summarize(const std::vector<FleetUpdate::Module>& modules, bool interrupted,
                              double seconds, Console& console) const {
    const FleetOutcome outcome = OutcomeOf(modules, interrupted);
    const auto count = [&](ModuleResult result) { return outcome.Count(result); };
    console.Json({{"event", "summary"},
                  {"modules", outcome.modules},
                  {"done", count(ModuleResult::Done)},
                  {"unchanged", count(ModuleResult::Unchanged)},
                  {"verified", count(ModuleResult::Verified)},
                  {"failed", count(ModuleResult::Failed)},
                  {"interrupted", count(ModuleResult::Interrupted)},
                  {"exitCode", ToInt(outcome.code)},
                  {"seconds", seconds}});
    if (outcome.modules > 1) {
        console.Say(std::to_string(outcome.modules) +
                    " modules: " + std::to_string(count(ModuleResult::Done)) + " done, " +
                    std::to_string(count(ModuleResult::Unchanged)) + " unchanged, " +
                    std::to_string(count(ModuleResult::Verified)) + " verified, " +
                    std::to_string(count(ModuleResult::Failed)) + " failed, " +
                    std::to_string(count(ModuleResult::Interrupted)) + " interrupted" +
                    (outcome.failed.empty() ? "" : ": " + outcome.failed));
    }
}

} // namespace ostrel::cli
