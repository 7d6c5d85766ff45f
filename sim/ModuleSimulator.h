#pragma once

#include "common/UniqueFd.h"
#include "sim/BootloaderHandler.h"
#include "sim/FaultInjector.h"
#include "sim/ManagementModel.h"
#include "sim/ReplyScheduler.h"
#include "sim/SimLog.h"
#include "sim/SimOptions.h"

#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ostrel::sim {

// One simulated module on one UDP socket: receives every datagram, hands it to the
// application firmware or the bootloader, injects the configured faults and answers the
// sender. Single-threaded: an event loop (SimulatedModules) waits on its socket and its
// reply timer, and calls it when either is due.
class ModuleSimulator {
public:
    // Its log lines go to log, each ending in tag (empty for a module alone).
    ModuleSimulator(const SimOptions& chosen, SimLog& log, std::string tag = {});

    // Binds the socket. Returns a message when that fails.
    std::optional<std::string> Open();
    // "ip:port" actually bound.
    std::string LocalEndpoint() const;
    int Fd() const { return socket.Get(); }
    // Takes every datagram that waits, read into scratch (the loop's, shared by its modules),
    // and answers what is due.
    void OnReadable(std::span<std::uint8_t> scratch);
    static constexpr std::size_t scratchSize = 65536;
    // Until its next reply is due; none while none waits.
    std::optional<timespec> ReplyDueIn() const { return replies.PollTimeout(); }
    void SendDueReplies() { replies.SendDue(socket.Get()); }
    // Writes the dump, if one was asked for; false when it could not be written.
    bool WriteDump() const;

private:
    void Log(LogEntry& entry);
    bool ReceiveOne(std::span<std::uint8_t> buffer);
    void Dispatch(std::span<const std::uint8_t> datagram, const sockaddr_in& source,
                  LogEntry& entry);
    void HandleWake(LogEntry& entry);
    void HandleBootloader(std::span<const std::uint8_t> datagram, const sockaddr_in& source,
                          LogEntry& entry);
    void HandleApplication(std::span<const std::uint8_t> datagram, const sockaddr_in& source,
                           LogEntry& entry);

    SimOptions options;
    UniqueFd socket;
    sockaddr_in local{};
    SimLog& log;
    std::string tag;
    FaultInjector faults;
    BootloaderHandler boot;
    ManagementModel management;
    ReplyScheduler replies;
    bool inBootloader;
    bool ranApplication = false; // Run has started the application
    std::optional<std::chrono::steady_clock::time_point> powerBackAt; // while the power is off
};

} // namespace ostrel::sim
