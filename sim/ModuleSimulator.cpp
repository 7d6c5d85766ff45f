#include "sim/ModuleSimulator.h"

#include "net/ReceivedDatagram.h"
#include "sim/FlashDump.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>

namespace ostrel::sim {

namespace {

constexpr std::array<std::uint8_t, 5> WAKE_STRING{'7', '0', '8', '1', '4'};
constexpr std::size_t SHORT_REPLY = 60;

std::string AddressText(in_addr address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::string EndpointText(const sockaddr_in& endpoint) {
    return AddressText(endpoint.sin_addr) + ":" + std::to_string(ntohs(endpoint.sin_port));
}

std::string ManagementKey(ManagementCommand command) {
    switch (command) {
    case ManagementCommand::Read:
        return "app:R";
    case ManagementCommand::Write:
        return "app:W";
    case ManagementCommand::Ident:
        return "app:I";
    case ManagementCommand::Unknown:
    case ManagementCommand::NotManagement:
        break;
    }
    return {};
}

} // namespace

ModuleSimulator::ModuleSimulator(const SimOptions& chosen, SimLog& shared, std::string label)
    : options(chosen), log(shared), tag(std::move(label)), faults(chosen.faults), boot(chosen),
      management(chosen.identity), replies(chosen), inBootloader(chosen.bootloader) {}

void ModuleSimulator::Log(LogEntry& entry) {
    entry.details += tag;
    log.Write(entry);
}

std::optional<std::string> ModuleSimulator::Open() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options.port);
    if (::inet_pton(AF_INET, options.address.c_str(), &address.sin_addr) != 1) {
        return "not an IPv4 address: " + options.address;
    }
    socket = UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.IsValid()) {
        return std::string("socket: ") + std::strerror(errno);
    }
    // The destination of each datagram goes into the log: a broadcast must be told apart.
    const int on = 1;
    if (::setsockopt(socket.Get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
        return std::string("IP_PKTINFO: ") + std::strerror(errno);
    }
    if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return "bind " + EndpointText(address) + ": " + std::strerror(errno);
    }
    socklen_t length = sizeof local;
    if (::getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return std::string("getsockname: ") + std::strerror(errno);
    }
    if (!options.ipGiven) {
        ModuleIdentity identity = management.Identity();
        std::memcpy(identity.ipAddress.data(), &local.sin_addr.s_addr, 4);
        management = ManagementModel(identity);
    }
    return std::nullopt;
}

std::string ModuleSimulator::LocalEndpoint() const {
    return EndpointText(local);
}

void ModuleSimulator::OnReadable(std::span<std::uint8_t> scratch) {
    while (ReceiveOne(scratch)) {
    }
    SendDueReplies();
}

bool ModuleSimulator::ReceiveOne(std::span<std::uint8_t> receiveBuffer) {
    const auto received = ReceiveDatagram(socket.Get(), receiveBuffer);
    if (!received) {
        return false; // EAGAIN when drained; a passing error is retried on the next poll
    }
    const sockaddr_in& source = received->source;
    in_addr destination = local.sin_addr;
    if (received->destination) {
        destination.s_addr = htonl(*received->destination);
    }

    const auto datagram = receiveBuffer.first(std::min(received->length, receiveBuffer.size()));
    LogEntry entry{EndpointText(source),
                   AddressText(destination),
                   "other",
                   "-",
                   "ignored",
                   datagram.size(),
                   {}};
    Dispatch(datagram, source, entry);
    return true;
}

void ModuleSimulator::Dispatch(std::span<const std::uint8_t> datagram, const sockaddr_in& source,
                               LogEntry& entry) {
    if (powerBackAt) {
        if (std::chrono::steady_clock::now() < *powerBackAt) {
            entry.action = "dropped";
            entry.details = " reason=power-off";
            Log(entry);
            return;
        }
        // Power is back: the bootloader starts afresh over the flash as far as it was written.
        powerBackAt.reset();
        inBootloader = true;
        boot.PowerCycle();
    }
    if (std::ranges::equal(datagram, WAKE_STRING)) {
        HandleWake(entry);
    } else if (inBootloader) {
        HandleBootloader(datagram, source, entry);
    } else {
        HandleApplication(datagram, source, entry);
    }
}

void ModuleSimulator::HandleWake(LogEntry& entry) {
    entry.kind = "wake";
    if (inBootloader) {
        entry.details = " reason=bootloader";
    } else {
        inBootloader = true;
        boot.Restart();
        entry.action = "done";
    }
    Log(entry);
}

void ModuleSimulator::HandleBootloader(std::span<const std::uint8_t> datagram,
                                       const sockaddr_in& source, LogEntry& entry) {
    BootStep step = boot.Handle(datagram, faults, entry);
    if (step.powerLoss) {
        powerBackAt = std::chrono::steady_clock::now() + options.powerOff;
    }
    if (step.run) {
        // The dump is complete before the log shows Run, so a reader of the log can take it.
        if (!WriteDump()) {
            entry.details += " dump=failed";
        }
        inBootloader = false;
        ranApplication = true;
    }
    Log(entry);
    if (!step.reply.empty()) {
        replies.Answer(socket.Get(), std::move(step.reply), source);
    }
}

void ModuleSimulator::HandleApplication(std::span<const std::uint8_t> datagram,
                                        const sockaddr_in& source, LogEntry& entry) {
    const ManagementCommand command = ManagementModel::Classify(datagram);
    if (command != ManagementCommand::NotManagement) {
        entry.kind = "app";
    }
    entry.command = ManagementCommandName(command);

    if (const auto reason = faults.Lose()) {
        entry.action = "dropped";
        entry.details = " reason=" + std::string(*reason);
        Log(entry);
        return;
    }
    if (options.noAppAfterRun && ranApplication) {
        entry.action = "dropped";
        entry.details = " reason=no-app-after-run";
        Log(entry);
        return;
    }
    if (options.ignoreWrites && command == ManagementCommand::Write) {
        entry.details = " fault=ignore-writes";
        Log(entry);
        return;
    }
    if (const std::string key = ManagementKey(command); !key.empty() && faults.DropFirst(key)) {
        entry.action = "dropped";
        entry.details = " reason=drop-first";
        Log(entry);
        return;
    }

    ManagementOutcome outcome = management.Execute(datagram);
    entry.details = std::move(outcome.details);
    std::vector<std::uint8_t> reply;
    if (outcome.reply) {
        reply = std::move(*outcome.reply);
        if (options.shortReply) {
            reply.resize(std::min(reply.size(), SHORT_REPLY));
            entry.details += " fault=short-reply";
        }
        entry.action = "answered";
        entry.details += " reply=" + std::to_string(reply.size());
    } else if (outcome.done) {
        entry.action = "done";
    }
    Log(entry);
    if (!reply.empty()) {
        replies.Answer(socket.Get(), std::move(reply), source);
    }
}

bool ModuleSimulator::WriteDump() const {
    return options.dumpPath.empty() || WriteFlashDump(boot.Flash(), options.dumpPath);
}

} // namespace ostrel::sim
