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
// sender. Single-threaded; Run polls the socket and a stop descriptor.
class ModuleSimulator {
public:
    explicit ModuleSimulator(const SimOptions& chosen);

    // Binds the socket and opens the log. Returns a message when that fails.
    std::optional<std::string> Open();
    // "ip:port" actually bound.
    std::string LocalEndpoint() const;
    // Serves until stopFd becomes readable, then writes the dump. Returns the exit status.
    int Run(int stopFd);

private:
    bool ReceiveOne();
    void Dispatch(std::span<const std::uint8_t> datagram, const sockaddr_in& source,
                  LogEntry& entry);
    void HandleWake(LogEntry& entry);
    void HandleBootloader(std::span<const std::uint8_t> datagram, const sockaddr_in& source,
                          LogEntry& entry);
    void HandleApplication(std::span<const std::uint8_t> datagram, const sockaddr_in& source,
                           LogEntry& entry);
    bool WriteDump() const;

    SimOptions options;
    std::chrono::steady_clock::time_point start;
    UniqueFd socket;
    sockaddr_in local{};
    SimLog log;
    FaultInjector faults;
    BootloaderHandler boot;
    ManagementModel management;
    ReplyScheduler replies;
    bool inBootloader;
    bool ranApplication = false; // Run has started the application
    std::optional<std::chrono::steady_clock::time_point> powerBackAt; // while the power is off
    std::vector<std::uint8_t> receiveBuffer;
};

} // namespace ostrel::sim
