#include "cli/ReporterSet.h"

#include "cli/JsonReporter.h"
#include "cli/PlainReporter.h"
#include "cli/TerminalReporter.h"

namespace ostrel::cli {

ReporterSet::ReporterSet(Console& console) {
    if (console.JsonLines()) {
        reporters.push_back(std::make_unique<JsonReporter>(console));
    }
    if (console.HumanOnTerminal()) {
        reporters.push_back(std::make_unique<TerminalReporter>(console));
    } else {
        reporters.push_back(std::make_unique<PlainReporter>(console));
    }
}

void ReporterSet::Notice(Level level, const std::string& text) {
    for (const auto& reporter : reporters) {
        reporter->Notice(level, text);
    }
}

void ReporterSet::Start(const ModuleTarget& module, const std::string& file,
                        const UpdatePlan& plan) {
    for (const auto& reporter : reporters) {
        reporter->Start(module, file, plan);
    }
}

void ReporterSet::PhaseBegins(const ModuleTarget& module, Phase phase) {
    for (const auto& reporter : reporters) {
        reporter->PhaseBegins(module, phase);
    }
}

void ReporterSet::Progress(const ModuleTarget& module, std::uint32_t done, std::uint32_t total) {
    for (const auto& reporter : reporters) {
        reporter->Progress(module, done, total);
    }
}

void ReporterSet::Resent(const ModuleTarget& module, BootCommand command, std::uint16_t send) {
    for (const auto& reporter : reporters) {
        reporter->Resent(module, command, send);
    }
}

void ReporterSet::TryAgain(const ModuleTarget& module, const ModuleOutcome& failed,
                           unsigned nextTry) {
    for (const auto& reporter : reporters) {
        reporter->TryAgain(module, failed, nextTry);
    }
}

void ReporterSet::End(const ModuleTarget& module, const ModuleOutcome& outcome) {
    for (const auto& reporter : reporters) {
        reporter->End(module, outcome);
    }
}

} // namespace ostrel::cli
