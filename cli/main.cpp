// ostrel-cli: the console front end, for scripts, CI, production lines and people at a
// terminal. It needs no display, never waits for a person, and no failure of it exits 0.
#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "cli/StopSignals.h"
#include "common/Version.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>

namespace {

using namespace ostrel;
using namespace ostrel::cli;

// An argument read strictly: the text is kept by CLI11, read here, and a refusal is a usage
// error with its reason.
template <typename T>
bool Read(std::optional<T> (*parse)(std::string_view, std::string&), const std::string& text,
          T& into, std::string& error) {
    const auto value = parse(text, error);
    if (value) {
        into = *value;
    }
    return value.has_value();
}

} // namespace

int main(int argc, char** argv) {
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

    UpdateArguments update;
    std::vector<std::string> ipTexts;
    bool skipSame = false;
    bool noConfirm = false;
    std::vector<std::string> updateToTexts;
    auto* updateCommand =
        app.add_subcommand("update", "program a HEX file into one module or many at once");
    updateCommand->add_option("file", update.file, "the Intel HEX file")->required();
    updateCommand->add_option("--ip", ipTexts, "a module's address (repeatable)");
    updateCommand->add_option("--targets", update.targetsFile,
                              "a file of modules: an address or a MAC per line, # comments");
    updateCommand->add_flag("--all", update.all, "every module that discovery finds");
    updateCommand->add_option("--match", update.matches,
                              "the discovered modules whose FIELD=TEXT: name, identification, "
                              "version (shell patterns) or mac (a prefix); repeatable, all must "
                              "hold");
    updateCommand->add_option("--interface", update.discovery.interfaces,
                              "discovery asks only through this interface (repeatable)");
    updateCommand->add_option("--to", updateToTexts, "discovery asks this address too");
    updateCommand->add_option("--wait", update.discovery.waitSeconds,
                              "seconds discovery waits (2)");
    updateCommand->add_option("--parallel", update.parallel,
                              "at most so many modules at once (all)");
    updateCommand
        ->add_option("--retries", update.retries,
                     "update a module that failed again, so many more times (0)")
        ->check(CLI::Range(0, 100));
    updateCommand->add_option("--report", update.reportFile,
                              "write a report, FILE.json or FILE.csv");
    updateCommand->add_flag("--skip-same", skipSame,
                            "ask the module's CRC first; if it holds the image, only start it");
    updateCommand->add_flag("--no-confirm", noConfirm,
                            "do not wait for the application to answer after Run");
    updateCommand
        ->add_option("--attempts", update.attempts, "sends of Erase, Program and Verify (3)")
        ->check(CLI::Range(1, 1000));
    updateCommand
        ->add_option("--timeout-scale", update.timeoutScale,
                     "stretch every time-out, for slow links (1)")
        ->check(CLI::Range(0.1, 100.0));

    auto* verifyCommand =
        app.add_subcommand("verify", "compare a module's flash with a HEX file, and start it");
    verifyCommand->add_option("file", update.file, "the Intel HEX file")->required();
    verifyCommand->add_option("--ip", ipTexts, "the module's address")->required();
    verifyCommand->add_flag("--no-confirm", noConfirm,
                            "do not wait for the application to answer after Run");

    std::string planFile;
    auto* planCommand =
        app.add_subcommand("plan", "what an update would send and verify (no network)");
    planCommand->add_option("file", planFile, "the Intel HEX file")->required();

    DiscoverArguments discover;
    std::vector<std::string> toTexts;
    auto* discoverCommand = app.add_subcommand("discover", "list the modules that answer");
    discoverCommand->add_option("--interface", discover.interfaces,
                                "ask only through this interface (repeatable)");
    discoverCommand->add_option("--to", toTexts, "ask this address too (repeatable)");
    discoverCommand->add_option("--wait", discover.waitSeconds, "seconds to wait (2)");

    std::string ipText;
    auto* settingsCommand = app.add_subcommand("settings", "a module's network settings");
    settingsCommand->require_subcommand(1);
    auto* getCommand = settingsCommand->add_subcommand("get", "read them");
    getCommand->add_option("--ip", ipText, "the module's address")->required();
    auto* setCommand =
        settingsCommand->add_subcommand("set", "change them; only what is given changes");
    setCommand->add_option("--ip", ipText, "the module's address")->required();
    std::string staticIpText, maskText, dhcpText, portText, pidText, identText;
    setCommand->add_option("--static-ip", staticIpText, "its static address");
    setCommand->add_option("--mask", maskText, "its subnet mask");
    setCommand->add_option("--dhcp", dhcpText, "on or off");
    setCommand->add_option("--port", portText, "its reception port");
    setCommand->add_option("--pid", pidText, "its USB PID, 0B70 to 0B77");
    setCommand->add_option("--ident", identText, "its identification, up to 13 characters");

    std::string identState;
    auto* identCommand = app.add_subcommand("ident", "switch a module's identification indicator");
    identCommand->add_option("state", identState, "on or off")->required();
    identCommand->add_option("--ip", ipText, "the module's address")->required();

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
    std::string error;
    const auto usage = [&]() {
        console.Error(error);
        return ToInt(ExitCode::Usage);
    };
    // The discovery's options, alike for discover and for an update's selection.
    const auto readDiscovery = [&](const std::vector<std::string>& addressTexts,
                                   DiscoverArguments& into) {
        if (!(into.waitSeconds > 0) || into.waitSeconds > 3600) {
            error = "--wait takes seconds above 0 and up to 3600";
            return false;
        }
        for (const std::string& text : addressTexts) {
            DeviceAddress target = 0;
            if (!Read(&ParseDottedAddress, text, target, error)) {
                return false;
            }
            into.targets.push_back(target);
        }
        return true;
    };

    if (*updateCommand || *verifyCommand) {
        for (const std::string& text : ipTexts) {
            DeviceAddress module = 0;
            if (!Read(&ParseModuleAddress, text, module, error)) {
                return usage();
            }
            update.modules.push_back(module);
        }
        if (!readDiscovery(updateToTexts, update.discovery)) {
            return usage();
        }
        if (update.modules.empty() && update.targetsFile.empty() && !update.all &&
            update.matches.empty()) {
            error = "name the modules: --ip, --targets, --all or --match";
            return usage();
        }
        update.mode = *verifyCommand ? UpdateMode::VerifyOnly
                      : skipSame     ? UpdateMode::ProgramUnlessSame
                                     : UpdateMode::Program;
        update.confirm = !noConfirm;
        return ToInt(RunUpdate(update, console, stop));
    }
    if (*planCommand) {
        return ToInt(RunPlan(planFile, console));
    }
    if (*discoverCommand) {
        if (!readDiscovery(toTexts, discover)) {
            return usage();
        }
        return ToInt(RunDiscover(discover, console, stop));
    }
    DeviceAddress module = 0;
    if (!Read(&ParseModuleAddress, ipText, module, error)) {
        return usage();
    }
    if (*identCommand) {
        bool on = false;
        if (!Read(&ParseOnOff, identState, on, error)) {
            return usage();
        }
        return ToInt(RunIdent(module, on, console));
    }
    if (*getCommand) {
        return ToInt(RunSettingsGet(module, console, stop));
    }
    SettingsChange change;
    const auto readIf = [&](const std::string& text, auto parse, auto& into) {
        if (text.empty()) {
            return true;
        }
        typename std::remove_reference_t<decltype(into)>::value_type value{};
        if (!Read(parse, text, value, error)) {
            return false;
        }
        into = value;
        return true;
    };
    if (!readIf(staticIpText, &ParseDottedAddress, change.staticIp) ||
        !readIf(maskText, &ParseSubnetMask, change.mask) ||
        !readIf(dhcpText, &ParseOnOff, change.dhcp) || !readIf(portText, &ParsePort, change.port) ||
        !readIf(pidText, &ParseUsbPid, change.pid) ||
        !readIf(identText, &ParseIdentification, change.identification)) {
        return usage();
    }
    if (setCommand->count("--ident") > 0 && identText.empty()) {
        change.identification = std::string(); // an empty identification: thirteen blanks
    }
    return ToInt(RunSettingsSet(module, change, console, stop));
}
