#include "cli/SettingsCommand.h"

#include "cli/Arguments.h"
#include "common/HexText.h"
#include "common/SafeText.h"
#include "devices/MacText.h"
#include "devices/SettingsRead.h"
#include "devices/SetupChange.h"
#include "net/UdpEndpoint.h"

#include <cstdio>

namespace ostrel::cli {

namespace {

// The endpoint's own messages, as console errors.
class ConsoleMessages final : public MessageSink {
public:
    explicit ConsoleMessages(Console& out) : console(out) {}
    void Show(const Message& message) override { console.Error(message.text); }

private:
    Console& console;
};

nlohmann::json SettingsJson(DeviceAddress module, const ManagementReply& reply) {
    return {{"module", FormatDottedQuad(module)},
            {"name", reply.moduleName},
            {"version", reply.versionText},
            {"mac", MacText(reply.macAddress)},
            {"address", FormatDottedQuad(reply.Address())},
            {"mask", FormatDottedQuad(FromOctets(reply.subnetMask))},
            {"dhcp", reply.DhcpEnabled()},
            {"dhcpFlags", reply.dhcpFlags},
            {"port", reply.receptionPort},
            {"pid", HexDigits(reply.usbPid, 4)},
            {"identification", reply.SetupIdentification()}};
}

void SaySettings(Console& console, DeviceAddress module, const ManagementReply& reply) {
    console.Say("module          " + FormatDottedQuad(module));
    console.Say("name            " + SafeText(reply.moduleName));
    console.Say("version         " + SafeText(reply.versionText));
    console.Say("MAC             " + MacText(reply.macAddress));
    console.Say("address         " + FormatDottedQuad(reply.Address()));
    console.Say("mask            " + FormatDottedQuad(FromOctets(reply.subnetMask)));
    console.Say(std::string("DHCP            ") + (reply.DhcpEnabled() ? "on" : "off") +
                " (flags " + HexText(reply.dhcpFlags, 4) + ")");
    console.Say("port            " + std::to_string(reply.receptionPort));
    console.Say("USB PID         " + HexDigits(reply.usbPid, 4));
    console.Say("identification  \"" + SafeText(reply.SetupIdentification()) + "\"");
}

// The setup dialog's read (15 tries), from the module's address only.
std::optional<ManagementReply> Read(DeviceAddress module, Console& console, const StopSignals& stop,
                                    bool& stopped) {
    ConsoleMessages messages(console);
    UdpEndpoint endpoint(messages);
    if (!endpoint.Open(managementPort, module)) {
        return std::nullopt;
    }
    endpoint.AcceptOnlyFromPeer();
    const auto bytes =
        ReadSettings(endpoint, [&](UdpEndpoint& from, std::chrono::milliseconds limit) {
            return WaitForDatagram(from, limit, stop.Fd());
        });
    stopped = stop.Pending();
    if (!bytes) {
        return std::nullopt;
    }
    return ParseReply(*bytes);
}

ExitCode NoReply(DeviceAddress module, Console& console, bool stopped) {
    if (stopped) {
        console.Error("interrupted while reading " + FormatDottedQuad(module));
        return ExitCode::Interrupted;
    }
    console.Error("no answer from " + FormatDottedQuad(module) + " to " +
                  std::to_string(SettingsRead::tries) + " read requests");
    return ExitCode::NoAnswer;
}

// What is written, as the ledger keeps it.
nlohmann::json ConfigJson(const ModuleConfig& config) {
    return {{"address", FormatDottedQuad(FromOctets(config.ipAddress))},
            {"mask", FormatDottedQuad(FromOctets(config.subnetMask))},
            {"dhcp", config.dhcpEnabled},
            {"port", config.receptionPort},
            {"pid", HexDigits(config.usbPid, 4)},
            {"identification",
             std::string(config.identification.begin(), config.identification.end())}};
}

// Whatever is not given stays as the setup dialog would send it untouched.
EnteredSettings Changed(const ReportedSettings& reported, const SettingsChange& change) {
    EnteredSettings entered = AsReported(reported);
    if (change.staticIp) {
        entered.ipAddress = ToOctets(*change.staticIp);
    }
    if (change.mask) {
        entered.subnetMask = ToOctets(*change.mask);
    }
    if (change.dhcp) {
        entered.dhcpEnabled = *change.dhcp;
    }
    if (change.port) {
        entered.receptionPort = *change.port;
    }
    if (change.pid) {
        entered.usbPid = *change.pid;
    }
    if (change.identification) {
        entered.identification = *change.identification;
    }
    return entered;
}

// The reading of an option given as text; nothing given leaves it unset.
template <typename T>
bool ReadIf(const std::string& text, std::optional<T> (*parse)(std::string_view, std::string&),
            std::optional<T>& into, std::string& error) {
    if (text.empty()) {
        return true;
    }
    into = parse(text, error);
    return into.has_value();
}

} // namespace

SettingsCommand::SettingsCommand(CLI::App& app) {
    command = app.add_subcommand("settings", "a module's network settings");
    command->require_subcommand(1);
    getCommand = command->add_subcommand("get", "read them");
    getCommand->add_option("--ip", ipText, "the module's address")->required();
    setCommand = command->add_subcommand("set", "change them; only what is given changes");
    setCommand->add_option("--ip", ipText, "the module's address")->required();
    setCommand->add_option("--static-ip", staticIpText, "its static address");
    setCommand->add_option("--mask", maskText, "its subnet mask");
    setCommand->add_option("--dhcp", dhcpText, "on or off");
    setCommand->add_option("--port", portText, "its reception port");
    setCommand->add_option("--pid", pidText, "its USB PID, 0B70 to 0B77");
    setCommand->add_option("--ident", identText, "its identification, up to 13 characters");
}

bool SettingsCommand::ReadChange(SettingsChange& change, std::string& error) const {
    if (!ReadIf(staticIpText, &ParseDottedAddress, change.staticIp, error) ||
        !ReadIf(maskText, &ParseSubnetMask, change.mask, error) ||
        !ReadIf(dhcpText, &ParseOnOff, change.dhcp, error) ||
        !ReadIf(portText, &ParsePort, change.port, error) ||
        !ReadIf(pidText, &ParseUsbPid, change.pid, error) ||
        !ReadIf(identText, &ParseIdentification, change.identification, error)) {
        return false;
    }
    if (setCommand->count("--ident") > 0 && identText.empty()) {
        change.identification = std::string(); // an empty identification: thirteen blanks
    }
    return true;
}

ExitCode SettingsCommand::Run(Console& console, const StopSignals& stop, LedgerAccess& ledger) {
    std::string error;
    const auto module = ParseModuleAddress(ipText, error);
    SettingsChange change;
    if (!module || (setCommand->parsed() && !ReadChange(change, error))) {
        console.Error(error);
        return ExitCode::Usage;
    }
    if (getCommand->parsed()) {
        return Get(*module, console, stop);
    }
    LedgerRecorder* recorder = ledger.ForRecording(console);
    if (recorder == nullptr) {
        return ExitCode::Failed;
    }
    return Set(*module, change, console, stop, *recorder);
}

ExitCode SettingsCommand::Get(DeviceAddress module, Console& console, const StopSignals& stop) {
    bool stopped = false;
    const auto reply = Read(module, console, stop, stopped);
    if (!reply) {
        return NoReply(module, console, stopped);
    }
    nlohmann::json event = SettingsJson(module, *reply);
    event["event"] = "settings";
    event["exitCode"] = 0;
    console.Json(event);
    SaySettings(console, module, *reply);
    return ExitCode::Done;
}

ExitCode SettingsCommand::Set(DeviceAddress module, const SettingsChange& change, Console& console,
                              const StopSignals& stop, LedgerRecorder& recorder) {
    bool stopped = false;
    const auto reply = Read(module, console, stop, stopped);
    if (!reply) {
        return NoReply(module, console, stopped);
    }
    const ReportedSettings reported = ReportedSettings::From(*reply);
    const ModuleConfig config = ConfigToWrite(reported, Changed(reported, change));
    if (!SettingsChanged(reported, config)) {
        console.Json({{"event", "end"},
                      {"module", FormatDottedQuad(module)},
                      {"result", "unchanged"},
                      {"exitCode", 0}});
        console.Say(FormatDottedQuad(module) + ": nothing changed, nothing written");
        return ExitCode::Done;
    }

    SettingsWriteRecord record{
        LedgerTimestamp(),
        FormatDottedQuad(module),
        MacText(reply->macAddress),
        SettingsJson(module, *reply).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
        ConfigJson(config).dump(),
        "no answer to the read back"};
    const ExitCode code = WriteAndReadBack(module, config, console, stop, record.result);
    recorder.RecordSettingsWrite(record);
    return code;
}

ExitCode SettingsCommand::WriteAndReadBack(DeviceAddress module, const ModuleConfig& config,
                                           Console& console, const StopSignals& stop,
                                           std::string& result) {
    bool stopped = false;
    ConsoleMessages messages(console);
    UdpEndpoint endpoint(messages);
    if (!endpoint.Open(managementPort, module)) {
        result = "not written: no socket";
        return ExitCode::Failed;
    }
    endpoint.Send(BuildWriteRequest(config));
    console.Say(FormatDottedQuad(module) + ": settings written, reading them back");

    // A module that took a new static address may answer there only.
    auto readBack = Read(module, console, stop, stopped);
    const DeviceAddress moved = FromOctets(config.ipAddress);
    if (!readBack && !stopped && !config.dhcpEnabled && moved != module && moved != 0) {
        readBack = Read(moved, console, stop, stopped);
    }
    if (!readBack) {
        return NoReply(module, console, stopped);
    }
    const auto differences = DifferencesFromWritten(config, *readBack);
    const ExitCode code = differences.empty() ? ExitCode::Done : ExitCode::ReadBackDiffers;
    nlohmann::json event = SettingsJson(module, *readBack);
    event["event"] = "end";
    result = differences.empty() ? "written" : "read-back differs";
    event["result"] = result;
    event["differs"] = differences;
    event["exitCode"] = ToInt(code);
    console.Json(event);
    if (differences.empty()) {
        console.Say(FormatDottedQuad(module) + ": written and read back the same");
        return code;
    }
    std::string list;
    for (const std::string& field : differences) {
        list += (list.empty() ? "" : ", ") + field;
    }
    console.Error(FormatDottedQuad(module) + ": written, but the module reads back another " +
                  list);
    return code;
}

} // namespace ostrel::cli
