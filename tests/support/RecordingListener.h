#pragma once

#include "bootlink/LinkListener.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace ostrel::test {

// Keeps every report of a link's worker, with the time it came, for a test to wait on.
class RecordingListener final : public LinkListener {
public:
    using Clock = std::chrono::steady_clock;

    struct Event {
        bool timeout = false;
        LinkReply reply; // for a time-out only reply.command is set
        Clock::time_point when;
    };

    void PostLinkReply(const LinkReply& reply) override { Add({false, reply, Clock::now()}); }
    void PostLinkTimeout(BootCommand command) override {
        LinkReply reply;
        reply.command = command;
        Add({true, reply, Clock::now()});
    }

    void PostLinkResend(BootCommand command, std::uint16_t send) override {
        std::lock_guard lock(mutex);
        resends.emplace_back(command, send);
    }
    std::vector<std::pair<BootCommand, std::uint16_t>> Resends() {
        std::lock_guard lock(mutex);
        return resends;
    }

    // Waits until at least count events have come, at most for the given time; returns them all.
    std::vector<Event> WaitFor(std::size_t count, std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, wait, [&] { return events.size() >= count; });
        return events;
    }
    std::vector<Event> Events() {
        std::lock_guard lock(mutex);
        return events;
    }

private:
    void Add(Event event) {
        {
            std::lock_guard lock(mutex);
            events.push_back(std::move(event));
        }
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Event> events;
    std::vector<std::pair<BootCommand, std::uint16_t>> resends;
};

} // namespace ostrel::test
