#include "fleet/qt/FleetEngine.h"

#include "common/Version.h"
#include "fleet/LedgerListener.h"
#include "fleet/ModuleReads.h"
#include "fleet/OpenFileLimit.h"

namespace ostrel {

namespace {

// The fleet's events as the engine posts them.
class PostedEvents final : public FleetListener {
public:
    explicit PostedEvents(FleetEngine& into) : engine(into) {}

    void Notice(Level level, const std::string& text) override {
        EngineEvent event;
        event.level = level;
        event.text = text;
        engine.Post(std::move(event));
    }
    void Start(const ModuleTarget& module, const std::string&, const UpdatePlan&) override {
        Post(EngineEvent::Kind::Start, module);
    }
    void PhaseBegins(const ModuleTarget& module, Phase phase) override {
        EngineEvent event = Event(EngineEvent::Kind::Phase, module);
        event.phase = phase;
        engine.Post(std::move(event));
    }
    void Progress(const ModuleTarget& module, std::uint32_t done, std::uint32_t total) override {
        EngineEvent event = Event(EngineEvent::Kind::Progress, module);
        event.done = done;
        event.total = total;
        engine.Post(std::move(event));
    }
    void Resent(const ModuleTarget& module, BootCommand, std::uint16_t) override {
        Post(EngineEvent::Kind::Resent, module);
    }
    void TryAgain(const ModuleTarget& module, const ModuleOutcome& failed, unsigned) override {
        EngineEvent event = Event(EngineEvent::Kind::TryAgain, module);
        event.outcome = failed;
        engine.Post(std::move(event));
    }
    void End(const ModuleTarget& module, const ModuleOutcome& outcome) override {
        EngineEvent event = Event(EngineEvent::Kind::End, module);
        event.outcome = outcome;
        engine.Post(std::move(event));
    }

private:
    static EngineEvent Event(EngineEvent::Kind kind, const ModuleTarget& module) {
        EngineEvent event;
        event.kind = kind;
        event.module = module.address;
        return event;
    }
    void Post(EngineEvent::Kind kind, const ModuleTarget& module) {
        engine.Post(Event(kind, module));
    }

    FleetEngine& engine;
};

LedgerRecorder EngineLedger(FleetListener& notices) {
    return LedgerRecorder(LedgerPlace::Choose(std::nullopt, false),
                          RecordedBy::ThisProcess("ostrel-fleet", programVersion),
                          [&notices](const std::string& text) { notices.Warn(text); });
}

} // namespace

FleetEngine::~FleetEngine() {
    Stop();
}

template <typename Job>
bool FleetEngine::Launch(Job job) {
    if (busy.exchange(true)) {
        return false;
    }
    if (worker.joinable()) {
        worker.join();
    }
    stop.Drain();
    worker = std::jthread([this, job = std::move(job)]() mutable {
        job();
        busy.store(false);
    });
    return true;
}

bool FleetEngine::Update(UpdateJob job, std::vector<FleetTarget> targets, FleetPolicy policy,
                         std::string sha256) {
    return Launch([this, job = std::move(job), targets = std::move(targets), policy,
                   sha256 = std::move(sha256)] {
        PostedEvents posted(*this);
        LedgerRecorder ledger = EngineLedger(posted);
        LedgerListener recording(posted, ledger, job, sha256);
        if (const auto tooMany =
                RaiseOpenFileLimitFor(policy.parallel == 0 ? targets.size() : policy.parallel)) {
            posted.Warn(*tooMany);
        }
        FleetUpdate fleet(job, ModuleTargetsOf(targets), policy, recording, stop.Fd());
        const bool whole = fleet.Run();
        EngineEvent ended;
        ended.kind = EngineEvent::Kind::Ended;
        ended.fleet = OutcomeOf(fleet.Modules(), !whole);
        ended.rows = ReportRows(targets, fleet.Modules());
        ended.image = {job.file, job.plan.verify.start, job.plan.verify.length, job.plan.verify.crc,
                       sha256};
        Post(std::move(ended));
    });
}

bool FleetEngine::Scan(DiscoveryChoice choice) {
    return Launch([this, choice = std::move(choice)] {
        PostedEvents posted(*this);
        LedgerRecorder ledger = EngineLedger(posted);
        DiscoveryRun run = RunDiscovery(choice, posted, stop.Fd(), &ledger);
        EngineEvent scanned;
        scanned.kind = EngineEvent::Kind::Scanned;
        scanned.heard = std::move(run.modules);
        scanned.failure = run.failure;
        Post(std::move(scanned));
    });
}

bool FleetEngine::Read(std::vector<DeviceAddress> modules) {
    return Launch([this, modules = std::move(modules)] {
        EngineEvent read;
        read.kind = EngineEvent::Kind::Read;
        read.replies = ReadModules(modules, std::chrono::seconds(2), stop.Fd());
        read.asked = modules;
        Post(std::move(read));
    });
}

void FleetEngine::Post(EngineEvent event) {
    std::lock_guard lock(mutex);
    if (event.kind == EngineEvent::Kind::Progress) {
        const auto [waiting, added] = progressAt.try_emplace(event.module, events.size());
        if (!added) {
            events[waiting->second] = std::move(event);
            return;
        }
    } else {
        progressAt.erase(event.module); // what comes after it must stay after it
    }
    events.push_back(std::move(event));
}

std::vector<EngineEvent> FleetEngine::Take() {
    std::lock_guard lock(mutex);
    std::vector<EngineEvent> taken(std::make_move_iterator(events.begin()),
                                   std::make_move_iterator(events.end()));
    events.clear();
    progressAt.clear();
    return taken;
}

} // namespace ostrel
