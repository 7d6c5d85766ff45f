#pragma once

#include "bootlink/WorkerPasses.h"
#include "common/UniqueFd.h"
#include "common/WakeEvent.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <queue>
#include <span>
#include <sys/epoll.h>
#include <thread>
#include <vector>

namespace ostrel {

// The worker passes of many links on one thread: one epoll set of their sockets and wake events
// and one queue of their wait ends, so that a fleet needs no thread per link and a datagram costs
// only its own link's pass. Each link waits, passes and rests exactly as on a thread of its own.
class LinkLoop {
public:
    using Place = std::uint32_t;

    LinkLoop();
    LinkLoop(const LinkLoop&) = delete;
    LinkLoop& operator=(const LinkLoop&) = delete;
    // Every link must have been removed.
    ~LinkLoop();

    // From now on the loop runs the link's passes, from another thread.
    Place Add(WorkerPasses& link);
    // Once this returns, the loop touches the link no more.
    void Remove(Place place);

private:
    using Clock = std::chrono::steady_clock;
    enum class Stage { Resting, Waiting };

    struct Slot {
        WorkerPasses* link = nullptr;
        std::uint32_t generation = 0;
        Stage stage = Stage::Resting;
        WorkerPasses::WaitPlan plan;
        std::uint64_t timer = 0; // the one wait end or rest end that counts; 0: none
        bool readable = false;
        bool woken = false;
        bool disarmed = false; // its descriptors are out of the set while it rests
        bool inRound = false;
    };
    struct Timer {
        Clock::time_point at;
        Place place;
        std::uint64_t token;
        bool operator>(const Timer& other) const { return at > other.at; }
    };

    void Main(std::stop_token stop);
    std::optional<Clock::duration> UntilFirstTimer() const;
    void TakeReady(std::span<const epoll_event> ready);
    void TakeDueTimers(Clock::time_point now);
    void RunPass(Place place);
    // One pass with what came; true when the link now rests, its rest's end set.
    bool PassRests(Place place);
    void BeginWait(Place place);
    void SetTimer(Place place, Clock::time_point at);
    void Watch(Place place, int operation, std::uint32_t events);

    // Held by the loop for each round of passes, and by Add and Remove.
    mutable std::mutex mutex;
    std::vector<Slot> slots;
    std::vector<Place> freePlaces;
    std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers;
    std::uint64_t lastToken = 0;
    std::vector<Place> round; // the waiting links that something came for
    UniqueFd poller;
    WakeEvent wake; // a link added, or the loop to stop
    std::jthread thread;
};

} // namespace ostrel
