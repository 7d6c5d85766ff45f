#include "cli/IdentCommand.h"

#include "cli/Arguments.h"
#include "devices/IdentifySender.h"

namespace ostrel::cli {

namespace {

// Remembers whether the identify switch had to say anything: only its failures speak.
class FailureMessages final : public MessageSink {
public:
    explicit FailureMessages(Console& out) : console(out) {}
    void Show(const Message& message) override {
        console.Error(message.text);
        failed = true;
    }
    bool failed = false;

private:
    Console& console;
};

} // namespace

IdentCommand::IdentCommand(CLI::App& app) {
    command = app.add_subcommand("ident", "switch a module's identification indicator");
    command->add_option("state", stateText, "on or off")->required();
    command->add_option("--ip", ipText, "the module's address")->required();
}

ExitCode IdentCommand::Run(Console& console, const StopSignals&, LedgerAccess& ledger) {
    std::string error;
    const auto module = ParseModuleAddress(ipText, error);
    const auto on = module ? ParseOnOff(stateText, error) : std::nullopt;
    if (!module || !on) {
        console.Error(error);
        return ExitCode::Usage;
    }
    LedgerRecorder* recorder = ledger.ForRecording(console);
    if (recorder == nullptr) {
        return ExitCode::Failed;
    }
    const ExitCode code = Switch(*module, *on, console);
    if (code == ExitCode::Done) {
        recorder->RecordIdentify({LedgerTimestamp(), FormatDottedQuad(*module), *on});
    }
    return code;
}

ExitCode IdentCommand::Switch(DeviceAddress module, bool on, Console& console) {
    FailureMessages messages(console);
    SendIdentify(module, on, messages);
    const ExitCode code = messages.failed ? ExitCode::Failed : ExitCode::Done;
    console.Json({{"event", "end"},
                  {"module", FormatDottedQuad(module)},
                  {"ident", on ? "on" : "off"},
                  {"exitCode", ToInt(code)}});
    if (!messages.failed) {
        console.Say(FormatDottedQuad(module) + ": identification indicator switched " +
                    (on ? "on" : "off"));
    }
    return code;
}

} // namespace ostrel::cli
