#include "cli/Commands.h"
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

ExitCode RunIdent(DeviceAddress module, bool on, Console& console) {
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
