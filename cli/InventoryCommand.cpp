#include "cli/InventoryCommand.h"

#include "cli/Arguments.h"
#include "cli/LedgerOutput.h"
#include "common/SafeText.h"

namespace ostrel::cli {

namespace {

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) {
        text.append(text.empty() ? "" : ", ").append(part);
    }
    return text;
}

// In the order the CSV columns take.
nlohmann::ordered_json InventoryJson(const InventoryRow& row) {
    const Sighting& last = row.last;
    return {{"event", "module"},
            {"mac", last.mac},
            {"address", last.address},
            {"mask", last.mask},
            {"dhcp", last.dhcp},
            {"name", TextOf(last.name)},
            {"version", TextOf(last.version)},
            {"identification", TextOf(last.identification)},
            {"interface", last.interfaceName},
            {"firstSeen", row.firstSeen},
            {"lastSeen", row.lastSeen},
            {"lastUpdate", row.lastUpdate},
            {"lastResult", row.lastResult},
            {"changes", Joined(row.changes)}};
}

std::string Line(const InventoryRow& row) {
    const Sighting& last = row.last;
    std::string line = last.mac + "  " + last.address + "/" + last.mask + "  " +
                       SafeText(TextOf(last.name)) + "  " + SafeText(TextOf(last.version)) + "  <" +
                       SafeText(TextOf(last.identification)) + ">" +
                       (last.interfaceName.empty() ? "" : "  on " + last.interfaceName) +
                       "  seen " + row.firstSeen + " .. " + row.lastSeen;
    if (!row.lastUpdate.empty()) {
        line += "  updated " + row.lastUpdate + " " + row.lastResult;
    }
    if (!row.changes.empty()) {
        line += "  [" + Joined(row.changes) + "]";
    }
    return line;
}

} // namespace

InventoryCommand::InventoryCommand(CLI::App& app) {
    command = app.add_subcommand("inventory", "every module the ledger knows, by MAC");
    command->add_flag("--scan", scan, "run a discovery first and mark what changed since the last");
    command->add_option("--interface", choice.interfaces,
                        "the discovery asks only through this interface (repeatable)");
    command->add_option("--to", toTexts, "the discovery asks this address too (repeatable)");
    command->add_option("--wait", choice.waitSeconds, "seconds the discovery waits (2)");
    command->add_flag("--csv", csv, "CSV with a header line instead of text");
}

ExitCode InventoryCommand::Run(Console& console, const StopSignals& stop, LedgerAccess& ledger) {
    std::string error;
    if (!ReadDiscoveryChoice(toTexts, choice, error)) {
        console.Error(error);
        return ExitCode::Usage;
    }
    Ledger* opened = ledger.ForReading(console);
    if (opened == nullptr) {
        return ExitCode::Failed;
    }
    if (scan) {
        const DiscoveryRun run =
            RunDiscovery(choice, console, stop.Fd(), ledger.ForRecording(console));
        if (run.failure != ExitCode::Done) {
            return run.failure;
        }
    }
    const auto rows = opened->Inventory();
    if (!opened->Problem().empty()) {
        console.Error("cannot read the ledger " + opened->Path() + ": " + opened->Problem());
        return ExitCode::Failed;
    }
    PrintRows(rows, InventoryJson, Line, csv, console);
    return ExitCode::Done;
}

} // namespace ostrel::cli
