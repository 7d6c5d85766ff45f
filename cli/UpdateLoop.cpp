#include "cli/UpdateLoop.h"

#include <algorithm>
#include <poll.h>

namespace ostrel::cli {

UpdateLoop::UpdateLoop(LinkReportQueue& reports, const StopSignals& signals, std::size_t atOnce)
    : queue(reports), stop(signals), parallel(atOnce) {}

bool UpdateLoop::Run(std::vector<std::unique_ptr<ModuleUpdate>>& updates) {
    using Clock = ModuleUpdate::Clock;
    const std::size_t cap = parallel == 0 ? updates.size() : parallel;
    std::size_t started = 0;
    std::vector<pollfd> watched;
    std::vector<ModuleUpdate*> probing;
    while (true) {
        const auto now = Clock::now();
        const auto running =
            static_cast<std::size_t>(std::ranges::count_if(updates, [&](const auto& update) {
                return &update - updates.data() < static_cast<std::ptrdiff_t>(started) &&
                       !update->Ended();
            }));
        for (std::size_t free = cap - std::min(cap, running); free > 0 && started < updates.size();
             --free) {
            updates[started++]->Start(now);
        }
        if (started == updates.size() &&
            std::ranges::all_of(updates, [](const auto& update) { return update->Ended(); })) {
            return true;
        }

        // Wait for whatever comes first.
        std::optional<Clock::time_point> due;
        watched.assign({{queue.Fd(), POLLIN, 0}, {stop.Fd(), POLLIN, 0}});
        probing.clear();
        for (std::size_t i = 0; i < started; ++i) {
            ModuleUpdate& update = *updates[i];
            if (const auto next = update.NextDue()) {
                due = due ? std::min(*due, *next) : *next;
            }
            if (update.ProbeFd() >= 0) {
                watched.push_back({update.ProbeFd(), POLLIN, 0});
                probing.push_back(&update);
            }
        }
        int timeout = -1;
        if (due) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now());
            timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
        }
        ::poll(watched.data(), watched.size(), timeout);

        const auto woken = Clock::now();
        if (watched[1].revents != 0) {
            for (std::size_t i = 0; i < updates.size(); ++i) {
                if (i >= started) {
                    updates[i]->Start(woken);
                }
                updates[i]->Interrupt(woken);
            }
            return false;
        }
        if (watched[0].revents != 0) {
            for (const LinkReport& report : queue.Take()) {
                updates[report.module]->OnReport(report, woken);
            }
        }
        for (std::size_t i = 0; i < probing.size(); ++i) {
            if (watched[i + 2].revents != 0) {
                probing[i]->OnProbeReadable(woken);
            }
        }
        for (std::size_t i = 0; i < started; ++i) {
            const auto next = updates[i]->NextDue();
            if (next && *next <= woken) {
                updates[i]->Step(woken);
            }
        }
    }
}

} // namespace ostrel::cli
