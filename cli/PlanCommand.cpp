#include "cli/PlanCommand.h"

#include "cli/FileCheck.h"
#include "common/HexText.h"

namespace ostrel::cli {

namespace {

const char* TypeName(std::size_t type) {
    switch (type) {
    case 0:
        return "data";
    case 1:
        return "end of file";
    case 2:
        return "extended segment address";
    case 3:
        return "start segment address";
    case 4:
        return "extended linear address";
    case 5:
        return "start linear address";
    default:
        return nullptr;
    }
}

const char* KindName(UpdatePlan::Warning::Kind kind) {
    switch (kind) {
    case UpdatePlan::Warning::Kind::BuildEndsEarly:
        return "build-ends-early";
    case UpdatePlan::Warning::Kind::BootRegion:
        return "boot-region";
    case UpdatePlan::Warning::Kind::OutsideProgramMemory:
        return "outside-program-memory";
    case UpdatePlan::Warning::Kind::BadChecksum:
        return "bad-checksum";
    case UpdatePlan::Warning::Kind::NothingToVerify:
        return "nothing-to-verify";
    }
    return "?";
}

// The records by type, as JSON and as text: "data 5, end of file 1".
std::pair<nlohmann::json, std::string> RecordsByType(const UpdatePlan& plan) {
    nlohmann::json byType = nlohmann::json::object();
    std::string types;
    for (std::size_t type = 0; type < plan.recordsByType.size(); ++type) {
        const std::uint32_t count = plan.recordsByType[type];
        if (count == 0) {
            continue;
        }
        byType[std::to_string(type)] = count;
        const char* name = TypeName(type);
        // Appended piece by piece: GCC 12 warns falsely on literal + temporary at -O3.
        types.append(types.empty() ? "" : ", ").append(name != nullptr ? name : "type");
        if (name == nullptr) {
            types.append(" ").append(std::to_string(type));
        }
        types.append(" ").append(std::to_string(count));
    }
    return {byType, types};
}

nlohmann::json PlanEvent(const std::string& file, const UpdatePlan& plan,
                         const nlohmann::json& byType, ExitCode code) {
    nlohmann::json warnings = nlohmann::json::array();
    for (const auto& warning : plan.warnings) {
        warnings.push_back({{"kind", KindName(warning.kind)},
                            {"line", warning.line},
                            {"count", warning.count},
                            {"text", warning.text}});
    }
    return {{"event", "plan"},
            {"file", file},
            {"lines", plan.lines},
            {"recordLines", plan.recordLines},
            {"recordsByType", byType},
            {"dataBytes", plan.dataBytes},
            {"verify",
             {{"start", HexText(plan.verify.start, 8)},
              {"length", plan.verify.length},
              {"crc", HexText(plan.verify.crc, 4)}}},
            {"programFrames", plan.programFrames},
            {"largestFrame", plan.largestFrame},
            {"warnings", warnings},
            {"exitCode", ToInt(code)}};
}

} // namespace

PlanCommand::PlanCommand(CLI::App& app) {
    command = app.add_subcommand("plan", "what an update would send and verify (no network)");
    command->add_option("file", file, "the Intel HEX file")->required();
}

ExitCode PlanCommand::Run(Console& console, const StopSignals&, LedgerAccess&) {
    const auto plan = PlanOrSayWhy(file, console);
    if (!plan) {
        return ExitCode::BadFile;
    }
    const ExitCode code = plan->Programmable() ? ExitCode::Done : ExitCode::BadFile;
    const auto [byType, types] = RecordsByType(*plan);
    console.Json(PlanEvent(file, *plan, byType, code));

    console.Say(file);
    console.Say("  lines           " + std::to_string(plan->lines));
    console.Say("  record lines    " + std::to_string(plan->recordLines) +
                (types.empty() ? "" : " (" + types + ")"));
    console.Say("  data bytes      " + std::to_string(plan->dataBytes));
    console.Say("  Verify          start " + HexText(plan->verify.start, 8) + ", length " +
                std::to_string(plan->verify.length) + ", CRC-16 " + HexText(plan->verify.crc, 4));
    console.Say("  Program frames  " + std::to_string(plan->programFrames) + ", the largest " +
                std::to_string(plan->largestFrame) + " bytes");
    for (const auto& warning : plan->warnings) {
        console.Warn(warning.text);
    }
    if (code != ExitCode::Done) {
        console.Error(WhyNotProgrammable(file, *plan));
    }
    return code;
}

} // namespace ostrel::cli
