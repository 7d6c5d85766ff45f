#include "bootlink/UdpEndpoint.h"
#include "cli/Commands.h"
#include "common/HexText.h"
#include "devices/MacText.h"
#include "devices/SettingsRead.h"
#include "devices/SetupChange.h"

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
    console.Say("name            " + reply.moduleName);
    console.Say("version         " + reply.versionText);
    console.Say("MAC             " + MacText(reply.macAddress));
    console.Say("address         " + FormatDottedQuad(reply.Address()));
    console.Say("mask            " + FormatDottedQuad(FromOctets(reply.subnetMask)));
    console.Say(std::string("DHCP            ") + (reply.DhcpEnabled() ? "on" : "off") +
                " (flags " + HexText(reply.dhcpFlags, 4) + ")");
    console.Say("port            " + std::to_string(reply.receptionPort));
    console.Say("USB PID         " + HexDigits(reply.usbPid, 4));
    console.Say("identification  \"" + reply.SetupIdentification() + "\"");
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

} // namespace

ExitCode RunSettingsGet(DeviceAddress module, Console& console, const StopSignals& stop) {
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

ExitCode RunSettingsSet(DeviceAddress module, const SettingsChange& change, Console& console,
                        const StopSignals& stop) {
    bool stopped = false;
    const auto reply = Read(module, console, stop, stopped);
    if (!reply) {
        return NoReply(module, console, stopped);
    }
    const ReportedSettings reported = ReportedSettings::From(*reply);
    // Whatever is not given stays as the setup dialog would send it untouched.
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
    const ModuleConfig config = ConfigToWrite(reported, entered);
    if (!SettingsChanged(reported, config)) {
        console.Json({{"event", "end"},
                      {"module", FormatDottedQuad(module)},
                      {"result", "unchanged"},
                      {"exitCode", 0}});
        console.Say(FormatDottedQuad(module) + ": nothing changed, nothing written");
        return ExitCode::Done;
    }

    ConsoleMessages messages(console);
    UdpEndpoint endpoint(messages);
    if (!endpoint.Open(managementPort, module)) {
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
    event["result"] = differences.empty() ? "written" : "read-back differs";
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
