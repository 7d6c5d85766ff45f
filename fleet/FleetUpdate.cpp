#include "fleet/FleetUpdate.h"

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
    // One module reads its file as a lone link does, from the first frame on, with no wait for
    // a build of them all. A file that cannot be read is left to each link to report.
    if (modules.size() > 1) {
        if (auto built = ProgramFrames::FromFile(job.file)) {
            program = std::make_shared<const ProgramFrames>(std::move(*built));
        }
    }
    dueOf.resize(modules.size());
    isProbing.resize(modules.size());
}

std::size_t FleetUpdate::Cap() const {
    return policy.parallel == 0 ? modules.size() : policy.parallel;
}

void FleetUpdate::StartTry(std::size_t index, Clock::time_point now) {
    Module& module = modules[index];
    ++module.tries;
    const std::size_t id = moduleOfTry.size();
    moduleOfTry.push_back(index);
    module.current =
        std::make_unique<ModuleUpdate>(module.target, job, listener, queue, links, program, id);
    module.current->Start(now);
    Touched(index);
}

void FleetUpdate::Touched(std::size_t index) {
    const ModuleUpdate* update = modules[index].current.get();
    if (update == nullptr) {
        return;
    }
    if (update->Ended()) {
        ended.push_back(index);
        return;
    }
    const auto next = update->NextDue();
    if (next != dueOf[index]) {
        dueOf[index] = next;
        if (next) {
            dues.push({*next, index});
        }
    }
    if (update->ProbeFd() >= 0 && !isProbing[index]) {
        isProbing[index] = true;
        probing.push_back(index);
    }
}

void FleetUpdate::StartWhilePlacesAreFree(Clock::time_point now) {
    while (running < Cap() && nextToStart < modules.size()) {
        const std::size_t index = nextToStart++;
        if (policy.unlessVersion && modules[index].target.versionBefore == *policy.unlessVersion) {
            LeaveAlone(modules[index]);
            continue;
        }
        ++running;
        StartTry(index, now);
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
    ++finished;
    listener.End(module.target, unchanged);
}

void FleetUpdate::SettleEnded() {
    // A try that ends at once (no address) comes back here within the same call.
    while (!ended.empty()) {
        const std::size_t index = ended.back();
        ended.pop_back();
        const ModuleUpdate* update = modules[index].current.get();
        if (update != nullptr && update->Ended()) {
            Settle(index);
        }
    }
}

// An ended try: the module's outcome, or another try in the same place.
void FleetUpdate::Settle(std::size_t index) {
    Module& module = modules[index];
    const ModuleOutcome& tried = module.current->Outcome();
    module.seconds += tried.seconds;
    if (WorthAnotherTry(tried.code) && module.tries <= policy.moreTries) {
        listener.TryAgain(module.target, tried, module.tries + 1);
        module.current.reset();
        StartTry(index, Clock::now());
        return;
    }
    Finish(module);
}

// The current try's outcome is the module's.
void FleetUpdate::Finish(Module& module) {
    module.outcome = module.current->Outcome();
    module.outcome->seconds = module.seconds;
    module.outcome->tries = module.tries;
    module.current.reset();
    --running;
    ++finished;
    listener.End(module.target, *module.outcome);
}

void FleetUpdate::InterruptAll(Clock::time_point now) {
    for (std::size_t index = 0; index < modules.size(); ++index) {
        Module& module = modules[index];
        if (module.outcome) {
            continue;
        }
        if (module.current == nullptr) {
            ++running;
            StartTry(index, now);
        }
        module.current->Interrupt(now);
        module.seconds += module.current->Outcome().seconds;
        Finish(module);
    }
}

void FleetUpdate::TakeLinkEvents() {
    for (const LinkEvent& event : queue.Take()) {
        const std::size_t index = moduleOfTry[event.tryId];
        ModuleUpdate* update = modules[index].current.get();
        // An event of an earlier try of the module is no business of its current one.
        if (update != nullptr && update->Id() == event.tryId) {
            update->OnLinkEvent(event);
            Touched(index);
        }
    }
}

void FleetUpdate::StepDue(Clock::time_point now) {
    while (!dues.empty() && dues.top().at <= now) {
        const Due due = dues.top();
        dues.pop();
        if (dueOf[due.module] != due.at) {
            continue; // a time that was put off, or of an earlier try
        }
        dueOf[due.module].reset();
        if (ModuleUpdate* update = modules[due.module].current.get()) {
            update->Step(now);
            Touched(due.module);
        }
    }
}

void FleetUpdate::WatchProbes(EventWait& wait, const bool& stopped) {
    std::erase_if(probing, [this](std::size_t index) {
        const ModuleUpdate* update = modules[index].current.get();
        const bool done = update == nullptr || update->ProbeFd() < 0;
        isProbing[index] = !done;
        return done;
    });
    for (const std::size_t index : probing) {
        wait.Watch(modules[index].current->ProbeFd(), [this, &stopped, index] {
            if (ModuleUpdate* update = modules[index].current.get(); update && !stopped) {
                update->OnProbeReadable(Clock::now());
                Touched(index);
            }
        });
    }
}

bool FleetUpdate::Run() {
    EventWait wait;
    while (true) {
        SettleEnded();
        StartWhilePlacesAreFree(Clock::now());
        if (finished == modules.size()) {
            return true;
        }
        if (!ended.empty()) {
            continue; // a try that ended as it started
        }

        // Wait for whatever comes first; a stop is seen before anything else that came.
        bool stopped = false;
        wait.Watch(stopFd, [&] { stopped = true; });
        wait.Watch(queue.Fd(), [&] {
            if (!stopped) {
                TakeLinkEvents();
            }
        });
        while (!dues.empty() && dueOf[dues.top().module] != dues.top().at) {
            dues.pop();
        }
        if (!dues.empty()) {
            wait.Until(dues.top().at);
        }
        WatchProbes(wait, stopped);
        wait.Wait();
        if (stopped) {
            InterruptAll(Clock::now());
            return false;
        }
        StepDue(Clock::now());
    }
}

} // namespace ostrel
