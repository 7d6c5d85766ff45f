// ostrel-cli: the console front end, for scripts, CI, production lines and people at a
// terminal. It needs no display, never waits for a person, and no failure of it exits 0.
#include "cli/DiscoverCommand.h"
#include "cli/HistoryCommand.h"
#include "cli/IdentCommand.h"
#include "cli/InventoryCommand.h"
#include "cli/PlanCommand.h"
#include "cli/SettingsCommand.h"
#include "cli/UpdateCommand.h"
#include "common/Version.h"
#include "net/WireTrace.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

int main(int argc, char** argv) {
    using namespace ostrel;
    using namespace ostrel::cli;
    // Before any thread: Ctrl-C becomes something the loops wait on.
    const StopSignals stop;

    CLI::App app{"Updates, verifies and sets up Vexa modules over UDP, from a console.",
                 "ostrel-cli"};
    app.set_version_flag("--version", std::string("ostrel-cli ") + programVersion);
    app.require_subcommand(1);
    app.fallthrough();
    Console::Choice choice;
    app.add_flag("--json", choice.json, "one JSON object per line on standard output");
    app.add_flag("--quiet", choice.quiet, "errors only");
    LedgerAccess ledger(app);
    std::string tracePath;
    app.add_option("--trace", tracePath,
                   "write every datagram sent and received to this pcapng file")
        ->type_name("FILE.pcapng");

    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(std::make_unique<UpdateCommand>(app, UpdateCommand::Kind::Update));
    commands.push_back(std::make_unique<UpdateCommand>(app, UpdateCommand::Kind::Verify));
    commands.push_back(std::make_unique<PlanCommand>(app));
    commands.push_back(std::make_unique<DiscoverCommand>(app));
    commands.push_back(std::make_unique<SettingsCommand>(app));
    commands.push_back(std::make_unique<IdentCommand>(app));
    commands.push_back(std::make_unique<HistoryCommand>(app));
    commands.push_back(std::make_unique<InventoryCommand>(app));
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {
            return app.exit(error); // --help, --version
        }
        std::fprintf(stderr, "ostrel-cli: %s\nRun with --help for more.\n", error.what());
        return ToInt(ExitCode::Usage);
    }
    Console console(choice);
    std::unique_ptr<WireTrace> trace;
    if (!tracePath.empty()) {
        std::string error;
        trace = WireTrace::Create(
            tracePath, std::string("ostrel-cli ") + programVersion,
            [&console](const std::string& text) { console.Warn(text); }, error);
        if (!trace) {
            console.Error("cannot write the trace " + tracePath + ": " + error);
            return ToInt(ExitCode::Failed);
        }
    }
    const std::optional<WireTraceScope> tracing =
        trace ? std::optional<WireTraceScope>(std::in_place, *trace) : std::nullopt;
    for (const auto& command : commands) {
        if (command->Chosen()) {
            return ToInt(command->Run(console, stop, ledger));
        }
    }
    return ToInt(ExitCode::Usage);
}
