#include "sim/ReplyScheduler.h"

#include "common/Timespec.h"

#include <algorithm>
#include <array>
#include <sys/socket.h>

namespace ostrel::sim {

namespace {

// Jitter draws from a stream of its own, so that it leaves the loss pattern of a seed alone.
constexpr std::uint64_t JITTER_STREAM = 0x9E3779B97F4A7C15;

} // namespace

ReplyScheduler::ReplyScheduler(const SimOptions& options)
    : latency(options.latency), jitter(options.jitter), copies(options.duplicate ? 2 : 1),
      jitterRandom(options.faults.seed ^ JITTER_STREAM) {}

void ReplyScheduler::Answer(int socket, std::vector<std::uint8_t> bytes,
                            const sockaddr_in& destination) {
    const auto wait = Latency();
    if (wait <= std::chrono::microseconds::zero()) {
        SendCopies(socket, bytes, destination, copies);
        return;
    }
    // Kept in the order they leave: with jitter a later reply may leave first.
    PendingReply reply{std::chrono::steady_clock::now() + wait, destination, std::move(bytes),
                       copies};
    const auto at = std::ranges::upper_bound(pending, reply.due, {}, &PendingReply::due);
    pending.insert(at, std::move(reply));
}

std::chrono::microseconds ReplyScheduler::Latency() {
    const std::chrono::microseconds base = latency;
    if (jitter.count() == 0) {
        return base;
    }
    const auto spread = std::chrono::microseconds(jitter).count();
    std::uniform_int_distribution<std::int64_t> offset(-spread, spread);
    return std::max(std::chrono::microseconds::zero(),
                    base + std::chrono::microseconds(offset(jitterRandom)));
}

void ReplyScheduler::SendCopies(int socket, std::span<const std::uint8_t> bytes,
                                const sockaddr_in& destination, int times) {
    // All copies in one call, back to back as a duplicating switch would pass them on. A reply
    // the kernel refuses is lost, as on a real network; the host resends.
    std::array<iovec, 2> data{};
    std::array<mmsghdr, 2> messages{};
    const auto count = static_cast<std::size_t>(std::clamp(times, 1, 2));
    for (std::size_t i = 0; i < count; ++i) {
        data[i] = {const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
        messages[i].msg_hdr.msg_name = const_cast<sockaddr_in*>(&destination);
        messages[i].msg_hdr.msg_namelen = sizeof destination;
        messages[i].msg_hdr.msg_iov = &data[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    ::sendmmsg(socket, messages.data(), static_cast<unsigned>(count), 0);
}

void ReplyScheduler::SendDue(int socket) {
    const auto now = std::chrono::steady_clock::now();
    while (!pending.empty() && pending.front().due <= now) {
        const PendingReply& reply = pending.front();
        SendCopies(socket, reply.bytes, reply.destination, reply.copies);
        pending.pop_front();
    }
}

std::optional<timespec> ReplyScheduler::PollTimeout() const {
    if (pending.empty()) {
        return std::nullopt;
    }
    const auto wait = std::max(std::chrono::steady_clock::duration::zero(),
                               pending.front().due - std::chrono::steady_clock::now());
    return TimespecOf(wait);
}

} // namespace ostrel::sim
