#include "bootlink/LinkLoop.h"

#include "common/Timespec.h"

#include <array>
#include <stdexcept>

namespace ostrel {
namespace {

// An epoll mark: the link's place, its generation (so a late event of a removed link is
// dropped) and which of its two descriptors it is. The loop's own wake has a mark of its own.
constexpr std::uint64_t loopMark = ~std::uint64_t{0};

std::uint64_t MarkOf(LinkLoop::Place place, std::uint32_t generation, bool isWake) {
    return (std::uint64_t{generation & 0x7fffffffU} << 33) | (std::uint64_t{place} << 1) |
           (isWake ? 1U : 0U);
}

} // namespace

LinkLoop::LinkLoop() : poller(::epoll_create1(EPOLL_CLOEXEC)) {
    if (!poller.IsValid()) {
        throw std::runtime_error("cannot create an epoll set for the links");
    }
    epoll_event watch{EPOLLIN, {.u64 = loopMark}};
    ::epoll_ctl(poller.Get(), EPOLL_CTL_ADD, wake.Fd(), &watch);
    thread = std::jthread([this](std::stop_token stop) { Main(stop); });
}

LinkLoop::~LinkLoop() {
    thread.request_stop();
    wake.Signal();
}

LinkLoop::Place LinkLoop::Add(WorkerPasses& link) {
    const std::lock_guard lock(mutex);
    Place place = 0;
    if (freePlaces.empty()) {
        place = static_cast<Place>(slots.size());
        slots.emplace_back();
    } else {
        place = freePlaces.back();
        freePlaces.pop_back();
    }
    Slot& slot = slots[place];
    const std::uint32_t generation = slot.generation;
    slot = Slot{};
    slot.link = &link;
    slot.generation = generation;
    Watch(place, EPOLL_CTL_ADD, EPOLLIN);
    BeginWait(place);
    wake.Signal(); // the loop's wait may now end sooner
    return place;
}

void LinkLoop::Remove(Place place) {
    const std::lock_guard lock(mutex);
    Watch(place, EPOLL_CTL_DEL, 0);
    Slot& slot = slots[place];
    slot.link = nullptr;
    ++slot.generation;
    freePlaces.push_back(place);
}

void LinkLoop::Watch(Place place, int operation, std::uint32_t events) {
    const Slot& slot = slots[place];
    const std::array fds{slot.link->SocketFd(), slot.link->WakeFd()};
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i] >= 0) {
            epoll_event watch{events, {.u64 = MarkOf(place, slot.generation, i == 1)}};
            ::epoll_ctl(poller.Get(), operation, fds[i], &watch);
        }
    }
}

void LinkLoop::SetTimer(Place place, Clock::time_point at) {
    slots[place].timer = ++lastToken;
    timers.push({at, place, lastToken});
}

// As a link's own thread does before its wait: plan it and, if nothing is ready yet, wait.
void LinkLoop::BeginWait(Place place) {
    while (true) {
        Slot& slot = slots[place];
        if (slot.disarmed) {
            Watch(place, EPOLL_CTL_MOD, EPOLLIN);
            slot.disarmed = false;
        }
        slot.plan = slot.link->PlanWait();
        slot.stage = Stage::Waiting;
        slot.timer = 0;
        if (!slot.readable && !slot.woken) {
            if (slot.plan.wait) {
                SetTimer(place, Clock::now() + *slot.plan.wait);
            }
            return;
        }
        // What came while it rested ends the wait at once, as a poll would.
        if (PassRests(place)) {
            return;
        }
    }
}

bool LinkLoop::PassRests(Place place) {
    Slot& slot = slots[place];
    const bool rest = slot.link->Pass(slot.plan, slot.readable, slot.woken);
    slot.readable = slot.woken = false;
    if (rest) {
        slot.stage = Stage::Resting;
        SetTimer(place, Clock::now() + WorkerPasses::idleRest);
    }
    return rest;
}

void LinkLoop::RunPass(Place place) {
    if (!PassRests(place)) {
        BeginWait(place);
    }
}

void LinkLoop::TakeReady(std::span<const epoll_event> ready) {
    for (const epoll_event& event : ready) {
        if (event.data.u64 == loopMark) {
            wake.Drain();
            continue;
        }
        const auto place = static_cast<Place>((event.data.u64 >> 1) & 0xffffffffU);
        Slot& slot = slots[place];
        if (slot.link == nullptr ||
            MarkOf(place, slot.generation, false) != (event.data.u64 & ~std::uint64_t{1})) {
            continue; // removed since the wait began
        }
        ((event.data.u64 & 1U) != 0 ? slot.woken : slot.readable) = true;
        if (slot.stage == Stage::Waiting) {
            if (!slot.inRound) {
                slot.inRound = true;
                round.push_back(place);
            }
        } else if (!slot.disarmed) {
            // Kept for its next wait; until then its ready descriptors would wake the loop
            // again and again.
            Watch(place, EPOLL_CTL_MOD, 0);
            slot.disarmed = true;
        }
    }
}

void LinkLoop::TakeDueTimers(Clock::time_point now) {
    while (!timers.empty() && timers.top().at <= now) {
        const Timer due = timers.top();
        timers.pop();
        Slot& slot = slots[due.place];
        if (slot.link == nullptr || slot.timer != due.token) {
            continue; // a wait that ended otherwise, or a link removed
        }
        slot.timer = 0;
        if (slot.stage == Stage::Resting) {
            BeginWait(due.place);
        } else if (!slot.inRound) {
            slot.inRound = true;
            round.push_back(due.place);
        }
    }
}

std::optional<LinkLoop::Clock::duration> LinkLoop::UntilFirstTimer() const {
    const std::lock_guard lock(mutex);
    if (timers.empty()) {
        return std::nullopt;
    }
    return std::max(timers.top().at - Clock::now(), Clock::duration::zero());
}

void LinkLoop::Main(std::stop_token stop) {
    std::array<epoll_event, 512> ready{};
    while (!stop.stop_requested()) {
        const auto left = UntilFirstTimer();
        const timespec limit = TimespecOf(left.value_or(Clock::duration::zero()));
        const int count = ::epoll_pwait2(poller.Get(), ready.data(), ready.size(),
                                         left ? &limit : nullptr, nullptr);
        const std::lock_guard lock(mutex);
        TakeReady(std::span(ready).first(static_cast<std::size_t>(std::max(count, 0))));
        TakeDueTimers(Clock::now());
        for (const Place place : round) {
            slots[place].inRound = false;
            if (slots[place].link != nullptr) {
                RunPass(place);
            }
        }
        round.clear();
    }
}

} // namespace ostrel
