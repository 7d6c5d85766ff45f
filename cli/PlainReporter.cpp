#include "cli/PlainReporter.h"

#include "common/HexText.h"
#include "common/SafeText.h"

#include <cstdio>

namespace ostrel::cli {

std::string TryAgainText(const ModuleTarget& module, const ModuleOutcome& failed,
                         unsigned nextTry) {
    return module.name + ": " + failed.error + "; trying again from the wake string (try " +
           std::to_string(nextTry) + ")";
}

std::string EndText(const ModuleTarget& module, const ModuleOutcome& outcome) {
    char took[48];
    std::snprintf(took, sizeof took, " in %.2f s", outcome.seconds);
    std::string text = module.name + ": " + std::string(ResultName(outcome.result)) + took;
    if (outcome.code == ExitCode::Done && !outcome.name.empty()) {
        text += "; the application answers: " + SafeText(outcome.name) + " " +
                SafeText(outcome.version);
    }
    return text;
}

std::string FailureLine(const ModuleTarget& module, const ModuleOutcome& outcome) {
    return module.name + ": " + outcome.error + "; the module is left " + outcome.leftIn;
}

void PlainReporter::Start(const ModuleTarget& module, const std::string& file,
                          const UpdatePlan& plan) {
    tallies.Restart(module, plan);
    console.Say(module.name + ": " + file + ": " + std::to_string(plan.recordLines) +
                " records in " + std::to_string(plan.programFrames) + " frames; Verify " +
                HexText(plan.verify.start, 8) + " + " + std::to_string(plan.verify.length) +
                " bytes, CRC " + HexText(plan.verify.crc, 4));
}

void PlainReporter::PhaseBegins(const ModuleTarget& module, Phase phase) {
    console.Say(module.name + ": " + PhaseDescription(phase));
}

void PlainReporter::Progress(const ModuleTarget& module, std::uint32_t done, std::uint32_t total) {
    ModuleTally& tally = tallies.Of(module);
    if (const auto tenths = tally.NewTenth(done, total)) {
        console.Say(module.name + ": programming " + std::to_string(*tenths * 10) + "% (" +
                    std::to_string(tally.FramesDone()) + "/" +
                    std::to_string(tally.plan->programFrames) + " frames)");
    }
}

void PlainReporter::Resent(const ModuleTarget& module, BootCommand command, std::uint16_t send) {
    console.Say(module.name + ": " + std::string(BootCommandName(command)) + " sent again (send " +
                std::to_string(send) + ")");
}

void PlainReporter::TryAgain(const ModuleTarget& module, const ModuleOutcome& failed,
                             unsigned nextTry) {
    console.Say(TryAgainText(module, failed, nextTry));
}

void PlainReporter::End(const ModuleTarget& module, const ModuleOutcome& outcome) {
    if (outcome.code == ExitCode::Done) {
        console.Say(EndText(module, outcome));
    } else {
        console.Error(FailureLine(module, outcome));
    }
}

} // namespace ostrel::cli
