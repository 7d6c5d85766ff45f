#include "cli/UpdateLoop.h"

#include <algorithm>
#include <poll.h>

namespace ostrel::cli {

bool WorthAnotherTry(ExitCode code) {
    return code == ExitCode::NoAnswer || code == ExitCode::CrcMismatch ||
           code == ExitCode::NotConfirmed;
}

UpdateLoop::UpdateLoop(const UpdateJob& theJob, std::vector<ModuleTarget> targets, RunPolicy chosen,
                       UpdateReporter& sink, const StopSignals& signals)
    : job(theJob), policy(chosen), reporter(sink), stop(signals) {
    for (ModuleTarget& target : targets) {
        modules.push_back({std::move(target), 0, 0, nullptr, std::nullopt});
    }
}

std::size_t UpdateLoop::Running() const {
    return static_cast<std::size_t>(std::ranges::count_if(modules, [](const Module& module) {
        return module.current != nullptr && !module.current->Ended();
    }));
}

void UpdateLoop::StartTry(Module& module, Clock::time_point now) {
    ++module.tries;
    const std::size_t id = moduleOfTry.size();
    moduleOfTry.push_back(static_cast<std::size_t>(&module - modules.data()));
    module.current = std::make_unique<ModuleUpdate>(module.target, job, reporter, queue, id);
    module.current->Start(now);
}

// An ended try: the module's outcome, or another try.
void UpdateLoop::Settle(Module& module) {
    const ModuleOutcome& ended = module.current->Outcome();
    module.seconds += ended.seconds;
    if (WorthAnotherTry(ended.code) && module.tries <= policy.retries) {
        reporter.Again(module.target, ended, module.tries + 1);
        module.current.reset();
        StartTry(module, Clock::now());
        return;
    }
    module.outcome = ended;
    module.outcome->seconds = module.seconds;
    module.outcome->tries = module.tries;
    module.current.reset();
    reporter.End(module.target, *module.outcome);
}

void UpdateLoop::InterruptAll(Clock::time_point now) {
    for (Module& module : modules) {
        if (module.outcome) {
            continue;
        }
        if (module.current == nullptr) {
            StartTry(module, now);
        }
        module.current->Interrupt(now);
        module.seconds += module.current->Outcome().seconds;
        module.outcome = module.current->Outcome();
        module.outcome->seconds = module.seconds;
        module.outcome->tries = module.tries;
        module.current.reset();
        reporter.End(module.target, *module.outcome);
    }
}

bool UpdateLoop::Run() {
    const std::size_t cap = policy.parallel == 0 ? modules.size() : policy.parallel;
    std::vector<pollfd> watched;
    std::vector<ModuleUpdate*> probing;
    while (true) {
        const auto now = Clock::now();
        for (std::size_t running = Running(); running < cap && nextToStart < modules.size();
             ++running) {
            StartTry(modules[nextToStart++], now);
        }
        for (Module& module : modules) {
            if (module.current != nullptr && module.current->Ended()) {
                Settle(module);
            }
        }
        if (std::ranges::all_of(modules, [](const Module& m) { return m.outcome.has_value(); })) {
            return true;
        }
        if (Running() < cap && nextToStart < modules.size()) {
            continue; // a place came free
        }

        // Wait for whatever comes first.
        std::optional<Clock::time_point> due;
        watched.assign({{queue.Fd(), POLLIN, 0}, {stop.Fd(), POLLIN, 0}});
        probing.clear();
        for (Module& module : modules) {
            if (module.current == nullptr) {
                continue;
            }
            if (const auto next = module.current->NextDue()) {
                due = due ? std::min(*due, *next) : *next;
            }
            if (module.current->ProbeFd() >= 0) {
                watched.push_back({module.current->ProbeFd(), POLLIN, 0});
                probing.push_back(module.current.get());
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
            InterruptAll(woken);
            return false;
        }
        if (watched[0].revents != 0) {
            for (const LinkReport& report : queue.Take()) {
                Module& module = modules[moduleOfTry[report.module]];
                // A report of an earlier try of the module is no business of its current one.
                if (module.current != nullptr && module.current->Id() == report.module) {
                    module.current->OnReport(report, woken);
                }
            }
        }
        for (std::size_t i = 0; i < probing.size(); ++i) {
            if (watched[i + 2].revents != 0) {
                probing[i]->OnProbeReadable(woken);
            }
        }
        for (Module& module : modules) {
            if (module.current == nullptr) {
                continue;
            }
            const auto next = module.current->NextDue();
            if (next && *next <= woken) {
                module.current->Step(woken);
            }
        }
    }
}

} // namespace ostrel::cli
