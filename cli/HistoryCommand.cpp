#include "cli/HistoryCommand.h"

#include "cli/Arguments.h"
#include "cli/LedgerOutput.h"
#include "common/HexText.h"
#include "common/SafeText.h"
#include "devices/MacText.h"

#include <regex>

namespace ostrel::cli {

namespace {

template <typename T>
nlohmann::ordered_json OrNull(const std::optional<T>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

// In the order the CSV columns take.
nlohmann::ordered_json HistoryJson(const HistoryRow& row) {
    const UpdateRecord& u = row.update;
    return {{"event", "update"},
            {"id", row.id},
            {"started", u.started},
            {"ended", u.ended},
            {"operation", u.operation},
            {"address", u.address},
            {"mac", u.mac},
            {"nameBefore", TextOf(u.nameBefore)},
            {"versionBefore", TextOf(u.versionBefore)},
            {"nameAfter", TextOf(u.nameAfter)},
            {"versionAfter", TextOf(u.versionAfter)},
            {"file", u.file},
            {"sha256", u.sha256},
            {"start", u.start ? nlohmann::ordered_json(HexText(*u.start, 8)) : nullptr},
            {"length", OrNull(u.length)},
            {"crc", u.crc ? nlohmann::ordered_json(HexText(*u.crc, 4)) : nullptr},
            {"result", u.result},
            {"exitCode", OrNull(u.exitCode)},
            {"tries", u.tries},
            {"resends", OrNull(u.resends)},
            {"leftIn", u.leftIn},
            {"error", u.error},
            {"user", row.by.user},
            {"host", row.by.host},
            {"program", row.by.program},
            {"programVersion", row.by.programVersion}};
}

std::string Line(const HistoryRow& row) {
    const UpdateRecord& u = row.update;
    std::string line = u.started + "  " + u.operation + "  " + u.address +
                       (u.mac.empty() ? "" : "  " + u.mac) + "  " + u.result +
                       (u.exitCode ? " (" + std::to_string(*u.exitCode) + ")" : "");
    if (!u.nameAfter.empty() || !u.nameBefore.empty()) {
        line += "  " + SafeText(TextOf(u.nameAfter.empty() ? u.nameBefore : u.nameAfter));
    }
    if (!u.versionBefore.empty() || !u.versionAfter.empty()) {
        line +=
            "  " + SafeText(TextOf(u.versionBefore)) + " -> " + SafeText(TextOf(u.versionAfter));
    }
    line += "  " + SafeText(u.file) + "  tries " + std::to_string(u.tries);
    if (u.resends) {
        line += ", resends " + std::to_string(*u.resends);
    }
    line += "  by " + row.by.user + "@" + row.by.host + " " + row.by.program;
    if (!u.error.empty()) {
        line += "  " + SafeText(u.error) + "; left " + u.leftIn;
    }
    return line;
}

// A date, or a date and time, as the ledger writes them: compared as text, it is a bound.
bool IsTimestampPrefix(const std::string& text) {
    static const std::regex form(R"(\d{4}-\d{2}-\d{2}(T\d{2}(:\d{2}(:\d{2}(\.\d{1,3})?)?)?Z?)?)");
    return std::regex_match(text, form);
}

} // namespace

HistoryCommand::HistoryCommand(CLI::App& app) {
    command = app.add_subcommand("history", "the updates the ledger holds, newest first");
    command->add_option("--mac", macText, "only this module's");
    command->add_option("--ip", ipText, "only those at this address");
    command->add_option("--since", since, "only those started since: YYYY-MM-DD[THH:MM:SS] (UTC)");
    command->add_option("--result", result, "only those that ended so")
        ->check(CLI::IsMember({"done", "unchanged", "verified", "failed", "interrupted"}));
    command->add_option("--limit", limit, "at most so many, 0 for all (100)");
    command->add_flag("--csv", csv, "CSV with a header line instead of text");
}

ExitCode HistoryCommand::Run(Console& console, const StopSignals&, LedgerAccess& ledger) {
    HistoryFilter filter{{}, {}, since, result, limit == 0 ? std::nullopt : std::optional(limit)};
    std::string error;
    if (!macText.empty()) {
        const auto mac = ParseMac(macText);
        if (!mac) {
            console.Error("not a MAC address: " + macText);
            return ExitCode::Usage;
        }
        filter.mac = MacText(*mac);
    }
    if (!ipText.empty()) {
        const auto address = ParseModuleAddress(ipText, error);
        if (!address) {
            console.Error(error);
            return ExitCode::Usage;
        }
        filter.address = FormatDottedQuad(*address);
    }
    if (!since.empty() && !IsTimestampPrefix(since)) {
        console.Error("--since takes YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS, not " + since);
        return ExitCode::Usage;
    }
    Ledger* opened = ledger.ForReading(console);
    if (opened == nullptr) {
        return ExitCode::Failed;
    }
    const auto rows = opened->History(filter);
    if (!opened->Problem().empty()) {
        console.Error("cannot read the ledger " + opened->Path() + ": " + opened->Problem());
        return ExitCode::Failed;
    }
    PrintRows(rows, HistoryJson, Line, csv, console);
    return ExitCode::Done;
}

} // namespace ostrel::cli
