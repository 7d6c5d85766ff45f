#pragma once

#include "common/UniqueFd.h"
#include "sim/BootloaderModel.h"
#include "sim/CommandDeframer.h"
#include "sim/FaultInjector.h"
#include "sim/ManagementModel.h"
#include "sim/SimLog.h"
#include "sim/SimOptions.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <deque>
#include <netinet/in.h>
#include <optional>
#include <random>
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
    struct PendingReply {
        std::chrono::steady_clock::time_point due;
        sockaddr_in destination;
        std::vector<std::uint8_t> bytes;
        int copies = 1;
    };

    bool ReceiveOne();
    void Dispatch(std::span<const std::uint8_t> datagram, const sockaddr_in& source,
                  LogEntry& entry);
    void HandleWake(LogEntry& entry);
    void HandleBootloader(std::span<const std::uint8_t> datagram, const sockaddr_in& source,
                          LogEntry& entry);
    void HandleApplication(std::span<const std::uint8_t> datagram, const sockaddr_in& source,
                           LogEntry& entry);
    void Answer(std::vector<std::uint8_t> bytes, const sockaddr_in& destination);
    void SendCopies(std::span<const std::uint8_t> bytes, const sockaddr_in& destination,
                    int copies);
    void SendDue();
    // How long the next reply waits: the latency, moved by the jitter.
    std::chrono::microseconds Latency();
    // Until the next reply is due; none while nothing waits.
    std::optional<timespec> PollTimeout() const;
    bool WriteDump() const;

    SimOptions options;
    std::chrono::steady_clock::time_point start;
    UniqueFd socket;
    sockaddr_in local{};
    SimLog log;
    FaultInjector faults;
    CommandDeframer deframer;
    BootloaderModel bootloader;
    ManagementModel management;
    bool inBootloader;
    bool ranApplication = false; // Run has started the application
    unsigned erasesLost = 0;
    unsigned programsExecuted = 0;
    std::optional<std::chrono::steady_clock::time_point> powerBackAt; // while the power is off
    std::mt19937_64 jitterRandom;
    std::deque<PendingReply> pending; // in the order they are due
    std::vector<std::uint8_t> receiveBuffer;
};

} // namespace ostrel::sim
