#pragma once

#include "sim/SimOptions.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <deque>
#include <netinet/in.h>
#include <optional>
#include <random>
#include <span>
#include <vector>

namespace ostrel::sim {

// Sends the module's replies: at once, or after the configured latency moved by the jitter,
// from a queue that the caller's poll waits on. With --duplicate every reply leaves twice.
class ReplyScheduler {
public:
    explicit ReplyScheduler(const SimOptions& options);

    // Sends bytes to destination through the socket, now or when their latency has passed.
    void Answer(int socket, std::vector<std::uint8_t> bytes, const sockaddr_in& destination);
    // Sends the replies that are due.
    void SendDue(int socket);
    // Until the next reply is due; none while nothing waits.
    std::optional<timespec> PollTimeout() const;

private:
    struct PendingReply {
        std::chrono::steady_clock::time_point due;
        sockaddr_in destination;
        std::vector<std::uint8_t> bytes;
        int copies = 1;
    };

    // How long the next reply waits: the latency, moved by the jitter.
    std::chrono::microseconds Latency();
    static void SendCopies(int socket, std::span<const std::uint8_t> bytes,
                           const sockaddr_in& destination, int times);

    std::chrono::milliseconds latency;
    std::chrono::milliseconds jitter;
    int copies;
    std::mt19937_64 jitterRandom;
    std::deque<PendingReply> pending; // in the order they are due
};

} // namespace ostrel::sim
