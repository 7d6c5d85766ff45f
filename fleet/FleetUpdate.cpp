#include "fleet/FleetUpdate.h"

#include "common/EventWait.h"

#include <algorithm>

namespace ostrel {

bool WorthAnotherTry(ExitCode code) {
    return code == ExitCode::NoAnswer || code == ExitCode::CrcMismatch ||
           code == ExitCode::NotConfirmed;
}

FleetUpdate::FleetUpdate(const UpdateJob& theJob, std::vector<ModuleTarget> targets,
                         FleetPolicy chosen, FleetListener& reportTo, int stop)
    : job(theJob), policy(chosen), listener(reportTo), stopFd(stop) {
    for (ModuleTarget& target : targets) {
        modules.push_back({std::move(target), 0, 0, nullptr, std::nullopt});
    }
}

std::size_t FleetUpdate::Running() const {
    return static_cast<std::size_t>(std::ranges::count_if(modules, [](const Module& module) {
        return module.current != nullptr && !module.current->Ended();
    }));
}

std::size_t FleetUpdate::Cap() const {
    return policy.parallel == 0 ? modules.size() : policy.parallel;
}

void FleetUpdate::StartTry(Module& module, Clock::time_point now) {
    ++module.tries;
    const std::size_t id = moduleOfTry.size();
    moduleOfTry.push_back(static_cast<std::size_t>(&module - modules.data()));
    module.current = std::make_unique<ModuleUpdate>(module.target, job, listener, queue, id);
    module.current->Start(now);
}

void FleetUpdate::StartWhilePlacesAreFree(Clock::time_point now) {
    for (std::size_t running = Running(); running < Cap() && nextToStart < modules.size();) {
        Module& module = modules[nextToStart++];
        if (policy.unlessVersion && module.target.versionBefore == *policy.unlessVersion) {
            LeaveAlone(module);
            continue;
        }
        StartTry(module, now);
        ++running;
    }
}

void FleetUpdate::LeaveAlone(Module& module) {
    listener.Start(module.target, job.file, job.plan);
    ModuleOutcome unchanged;
    unchanged.result = ModuleResult::Unchanged;
    unchanged.code = ExitCode::Done;
    unchanged.tries = 0;
    unchanged.name = module.target.moduleName;
    unchanged.version = module.target.versionBefore;
    module.outcome = unchanged;
    listener.End(module.target, unchanged);
}

// An ended try: the module's outcome, or another try.
void FleetUpdate::Settle(Module& module) {
    const ModuleOutcome& ended = module.current->Outcome();
    module.seconds += ended.seconds;
    if (WorthAnotherTry(ended.code) && module.tries <= policy.moreTries) {
        listener.TryAgain(module.target, ended, module.tries + 1);
        module.current.reset();
        StartTry(module, Clock::now());
        return;
    }
    module.outcome = ended;
    module.outcome->seconds = module.seconds;
    module.outcome->tries = module.tries;
    module.current.reset();
    listener.End(module.target, *module.outcome);
}

void FleetUpdate::InterruptAll(Clock::time_point now) {
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
        listener.End(module.target, *module.outcome);
    }
}

void FleetUpdate::TakeLinkEvents() {
    for (const LinkEvent& event : queue.Take()) {
        Module& module = modules[moduleOfTry[event.tryId]];
        // An event of an earlier try of the module is no business of its current one.
        if (module.current != nullptr && module.current->Id() == event.tryId) {
            module.current->OnLinkEvent(event);
        }
    }
}

void FleetUpdate::StepDue(Clock::time_point now) {
    for (Module& module : modules) {
        if (module.current == nullptr) {
            continue;
        }
        const auto next = module.current->NextDue();
        if (next && *next <= now) {
            module.current->Step(now);
        }
    }
}

bool FleetUpdate::Run() {
    EventWait wait;
    while (true) {
        StartWhilePlacesAreFree(Clock::now());
        for (Module& module : modules) {
            if (module.current != nullptr && module.current->Ended()) {
                Settle(module);
            }
        }
        if (std::ranges::all_of(modules, [](const Module& m) { return m.outcome.has_value(); })) {
            return true;
        }
        if (Running() < Cap() && nextToStart < modules.size()) {
            continue; // a place came free
        }

        // Wait for whatever comes first; a stop is seen before anything else that came.
        bool stopped = false;
        wait.Watch(stopFd, [&] { stopped = true; });
        wait.Watch(queue.Fd(), [&] {
            if (!stopped) {
                TakeLinkEvents();
            }
        });
        for (Module& module : modules) {
            if (module.current == nullptr) {
                continue;
            }
            if (const auto next = module.current->NextDue()) {
                wait.Until(*next);
            }
            if (ModuleUpdate* update = module.current.get(); update->ProbeFd() >= 0) {
                wait.Watch(update->ProbeFd(), [&stopped, update] {
                    if (!stopped) {
                        update->OnProbeReadable(Clock::now());
                    }
                });
            }
        }
        wait.Wait();
        if (stopped) {
            InterruptAll(Clock::now());
            return false;
        }
        StepDue(Clock::now());
    }
}

} // namespace ostrel
