#include "cli/JsonReporter.h"

#include "common/HexText.h"

namespace ostrel::cli {

namespace {

nlohmann::json Event(const char* name, const ModuleTarget& module) {
    nlohmann::json event = {{"event", name}, {"module", module.name}};
    if (!module.mac.empty()) {
        event["mac"] = module.mac;
    }
    return event;
}

nlohmann::json TextOrNull(const std::string& text) {
    return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

} // namespace

void JsonReporter::Start(const ModuleTarget& module, const std::string& file,
                         const UpdatePlan& plan) {
    tallies.Restart(module, plan);
    nlohmann::json event = Event("start", module);
    event.update({{"file", file},
                  {"start", HexText(plan.verify.start, 8)},
                  {"length", plan.verify.length},
                  {"crc", HexText(plan.verify.crc, 4)},
                  {"frames", plan.programFrames},
                  {"lines", plan.lines}});
    console.Json(event);
}

void JsonReporter::PhaseBegins(const ModuleTarget& module, Phase phase) {
    ModuleTally& tally = tallies.Of(module);
    if (phase == Phase::Program) {
        tally.programStarted = ModuleTally::Clock::now();
    }
    nlohmann::json event = Event("phase", module);
    event.update({{"phase", PhaseName(phase)}, {"seconds", tally.Seconds()}});
    console.Json(event);
}

void JsonReporter::Progress(const ModuleTarget& module, std::uint32_t done, std::uint32_t total) {
    ModuleTally& tally = tallies.Of(module);
    const auto tenths = tally.NewTenth(done, total);
    if (!tenths) {
        return;
    }
    nlohmann::json event = Event("progress", module);
    event.update({{"done", done},
                  {"total", total},
                  {"percent", *tenths * 10},
                  {"frames", tally.FramesDone()},
                  {"bytesPerSecond", tally.BytesPerSecond()}});
    console.Json(event);
}

void JsonReporter::Resent(const ModuleTarget& module, BootCommand command, std::uint16_t send) {
    nlohmann::json event = Event("retry", module);
    event.update({{"command", BootCommandName(command)}, {"send", send}});
    console.Json(event);
}

void JsonReporter::TryAgain(const ModuleTarget& module, const ModuleOutcome& failed,
                            unsigned nextTry) {
    nlohmann::json event = Event("again", module);
    event.update({{"try", nextTry}, {"error", failed.error}, {"exitCode", ToInt(failed.code)}});
    console.Json(event);
}

void JsonReporter::End(const ModuleTarget& module, const ModuleOutcome& outcome) {
    const UpdatePlan& plan = *tallies.Of(module).plan;
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
    event["name"] = TextOrNull(outcome.name);
    event["version"] = TextOrNull(outcome.version);
    if (!outcome.error.empty()) {
        event["error"] = outcome.error;
        event["leftIn"] = outcome.leftIn;
    }
    console.Json(event);
}

} // namespace ostrel::cli
