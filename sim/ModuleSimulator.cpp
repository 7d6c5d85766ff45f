#include "sim/ModuleSimulator.h"

#include "sim/ReplyFramer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>

namespace ostrel::sim {

namespace {

constexpr std::array<std::uint8_t, 5> WAKE_STRING{'7', '0', '8', '1', '4'};
constexpr std::size_t RECEIVE_BUFFER = 65536;
constexpr std::size_t SHORT_REPLY = 60;
constexpr std::uint16_t BAD_VERIFY_XOR = 0x5A5A;
// Jitter draws from a stream of its own, so that it leaves the loss pattern of a seed alone.
constexpr std::uint64_t JITTER_STREAM = 0x9E3779B97F4A7C15;

std::string AddressText(in_addr address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::string EndpointText(const sockaddr_in& endpoint) {
    return AddressText(endpoint.sin_addr) + ":" + std::to_string(ntohs(endpoint.sin_port));
}

std::string_view DeframeReason(DeframeStatus status) {
    switch (status) {
    case DeframeStatus::BadCrc:
        return " reason=crc";
    case DeframeStatus::TooShort:
        return " reason=short";
    case DeframeStatus::TooLong:
        return " reason=long";
    case DeframeStatus::Incomplete:
        return " reason=partial";
    case DeframeStatus::NoFrame:
        return " reason=noframe";
    case DeframeStatus::Frame:
        break;
    }
    return {};
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

ModuleSimulator::ModuleSimulator(const SimOptions& chosen)
    : options(chosen), start(std::chrono::steady_clock::now()), log(start), faults(chosen.faults),
      management(chosen.identity), inBootloader(chosen.bootloader),
      jitterRandom(chosen.faults.seed ^ JITTER_STREAM), receiveBuffer(RECEIVE_BUFFER) {}

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
    if (!options.logPath.empty() && !log.Open(options.logPath)) {
        return "cannot write the log " + options.logPath;
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

int ModuleSimulator::Run(int stopFd) {
    while (true) {
        std::array<pollfd, 2> watched{{{socket.Get(), POLLIN, 0}, {stopFd, POLLIN, 0}}};
        const auto timeout = PollTimeout();
        const int ready =
            ::ppoll(watched.data(), watched.size(), timeout ? &*timeout : nullptr, nullptr);
        if (ready < 0 && errno != EINTR) {
            std::perror("vexa-sim: poll");
            break;
        }
        if (watched[1].revents != 0) {
            break;
        }
        if (watched[0].revents != 0) {
            while (ReceiveOne()) {
            }
        }
        SendDue();
    }
    if (!WriteDump()) {
        return 1;
    }
    return 0;
}

bool ModuleSimulator::ReceiveOne() {
    sockaddr_in source{};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in_pktinfo))> control{};
    iovec buffer{receiveBuffer.data(), receiveBuffer.size()};
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &buffer;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t received = ::recvmsg(socket.Get(), &message, 0);
    if (received < 0) {
        return false; // EAGAIN when drained; a passing error is retried on the next poll
    }

    in_addr destination = local.sin_addr;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            destination = info.ipi_addr;
        }
    }

    const auto datagram = std::span(receiveBuffer).first(static_cast<std::size_t>(received));
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
            log.Write(entry);
            return;
        }
        // Power is back: the bootloader starts afresh over the flash as far as it was written.
        powerBackAt.reset();
        inBootloader = true;
        deframer.Reset();
        bootloader.PowerCycle();
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
        deframer.Reset();
        entry.action = "done";
    }
    log.Write(entry);
}

void ModuleSimulator::HandleBootloader(std::span<const std::uint8_t> datagram,
                                       const sockaddr_in& source, LogEntry& entry) {
    entry.kind = "boot";
    // Deframed on a copy first: a datagram that is lost must leave no trace in the deframer,
    // yet its log line should still name the command.
    CommandDeframer next = deframer;
    const DeframeResult frame = next.Feed(datagram);
    const bool good = frame.status == DeframeStatus::Frame;
    entry.command = good ? BootCommandName(frame.payload[0]) : "badframe";

    if (const auto reason = faults.Lose()) {
        entry.action = "dropped";
        entry.details = " reason=" + std::string(*reason);
        log.Write(entry);
        return;
    }
    deframer = std::move(next);
    if (!good) {
        entry.details = DeframeReason(frame.status);
        log.Write(entry);
        return;
    }
    if (frame.payload[0] == static_cast<std::uint8_t>(BootCommand::Erase) &&
        erasesLost < options.loseErases) {
        ++erasesLost;
        entry.action = "dropped";
        entry.details = " reason=lose-erases";
        log.Write(entry);
        return;
    }
    if (faults.DropFirst("boot:" + std::to_string(frame.payload[0]))) {
        entry.action = "dropped";
        entry.details = " reason=drop-first";
        log.Write(entry);
        return;
    }

    BootOutcome outcome = bootloader.Execute(frame.payload);
    entry.details = std::move(outcome.details);
    if (frame.payload[0] == static_cast<std::uint8_t>(BootCommand::Program) &&
        ++programsExecuted == options.powerLossAfter) {
        powerBackAt = std::chrono::steady_clock::now() + options.powerOff;
        entry.action = "stored";
        entry.details += " fault=power-loss";
        log.Write(entry);
        return;
    }
    std::vector<std::uint8_t> reply;
    if (outcome.reply) {
        if (options.badVerify &&
            frame.payload[0] == static_cast<std::uint8_t>(BootCommand::Verify)) {
            (*outcome.reply)[1] ^= BAD_VERIFY_XOR & 0xFF;
            (*outcome.reply)[2] ^= BAD_VERIFY_XOR >> 8;
            char sent[40];
            std::snprintf(sent, sizeof sent, " fault=bad-verify sent=0x%02X%02X",
                          unsigned{(*outcome.reply)[2]}, unsigned{(*outcome.reply)[1]});
            entry.details += sent;
        }
        reply = FrameReply(*outcome.reply);
        entry.action = "answered";
        entry.details += " reply=" + std::to_string(reply.size());
    }
    if (outcome.run) {
        // The dump is complete before the log shows Run, so a reader of the log can take it.
        if (!WriteDump()) {
            entry.details += " dump=failed";
        }
        inBootloader = false;
        ranApplication = true;
        deframer.Reset();
        entry.action = "done";
    }
    log.Write(entry);
    if (!reply.empty()) {
        Answer(std::move(reply), source);
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
        log.Write(entry);
        return;
    }
    if (options.noAppAfterRun && ranApplication) {
        entry.action = "dropped";
        entry.details = " reason=no-app-after-run";
        log.Write(entry);
        return;
    }
    if (options.ignoreWrites && command == ManagementCommand::Write) {
        entry.details = " fault=ignore-writes";
        log.Write(entry);
        return;
    }
    if (const std::string key = ManagementKey(command); !key.empty() && faults.DropFirst(key)) {
        entry.action = "dropped";
        entry.details = " reason=drop-first";
        log.Write(entry);
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
    log.Write(entry);
    if (!reply.empty()) {
        Answer(std::move(reply), source);
    }
}

void ModuleSimulator::Answer(std::vector<std::uint8_t> bytes, const sockaddr_in& destination) {
    const int copies = options.duplicate ? 2 : 1;
    const auto latency = Latency();
    if (latency <= std::chrono::microseconds::zero()) {
        SendCopies(bytes, destination, copies);
        return;
    }
    // Kept in the order they leave: with jitter a later reply may leave first.
    PendingReply reply{std::chrono::steady_clock::now() + latency, destination, std::move(bytes),
                       copies};
    const auto at = std::ranges::upper_bound(pending, reply.due, {}, &PendingReply::due);
    pending.insert(at, std::move(reply));
}

std::chrono::microseconds ModuleSimulator::Latency() {
    const std::chrono::microseconds latency = options.latency;
    if (options.jitter.count() == 0) {
        return latency;
    }
    const auto spread = std::chrono::microseconds(options.jitter).count();
    std::uniform_int_distribution<std::int64_t> offset(-spread, spread);
    return std::max(std::chrono::microseconds::zero(),
                    latency + std::chrono::microseconds(offset(jitterRandom)));
}

void ModuleSimulator::SendCopies(std::span<const std::uint8_t> bytes,
                                 const sockaddr_in& destination, int copies) {
    // All copies in one call, back to back as a duplicating switch would pass them on. A reply
    // the kernel refuses is lost, as on a real network; the host resends.
    std::array<iovec, 2> data{};
    std::array<mmsghdr, 2> messages{};
    const auto count = static_cast<std::size_t>(std::clamp(copies, 1, 2));
    for (std::size_t i = 0; i < count; ++i) {
        data[i] = {const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
        messages[i].msg_hdr.msg_name = const_cast<sockaddr_in*>(&destination);
        messages[i].msg_hdr.msg_namelen = sizeof destination;
        messages[i].msg_hdr.msg_iov = &data[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    ::sendmmsg(socket.Get(), messages.data(), static_cast<unsigned>(count), 0);
}

void ModuleSimulator::SendDue() {
    const auto now = std::chrono::steady_clock::now();
    while (!pending.empty() && pending.front().due <= now) {
        const PendingReply& reply = pending.front();
        SendCopies(reply.bytes, reply.destination, reply.copies);
        pending.pop_front();
    }
}

std::optional<timespec> ModuleSimulator::PollTimeout() const {
    if (pending.empty()) {
        return std::nullopt;
    }
    const auto wait = std::max(std::chrono::steady_clock::duration::zero(),
                               pending.front().due - std::chrono::steady_clock::now());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
    return timespec{static_cast<time_t>(seconds.count()),
                    static_cast<long>(std::chrono::nanoseconds(wait - seconds).count())};
}

bool ModuleSimulator::WriteDump() const {
    if (options.dumpPath.empty()) {
        return true;
    }
    // Written aside and renamed, so that a reader never sees half a flash.
    const std::string partial = options.dumpPath + ".partial";
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        const auto contents = bootloader.Flash().Contents();
        file.write(reinterpret_cast<const char*>(contents.data()),
                   static_cast<std::streamsize>(contents.size()));
        if (!file.flush()) {
            std::fprintf(stderr, "vexa-sim: cannot write the dump %s\n", partial.c_str());
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(partial, options.dumpPath, error);
    if (error) {
        std::fprintf(stderr, "vexa-sim: cannot write the dump %s: %s\n", options.dumpPath.c_str(),
                     error.message().c_str());
        return false;
    }
    return true;
}

} // namespace ostrel::sim
