#include "fleet/ModuleUpdate.h"

#include "devices/MacText.h"
#include "fleet/FailureText.h"

namespace ostrel {

ModuleUpdate::ModuleUpdate(ModuleTarget module, const UpdateJob& theJob, FleetListener& reportTo,
                           LinkEventQueue& queue, LinkLoop& links,
                           std::shared_ptr<const ProgramFrames> program, std::size_t tryId)
    : target(std::move(module)), id(tryId), job(theJob), listener(reportTo),
      linkListener(queue, tryId), link(*this),
      procedure(job.file, target.address, *this, linkListener, *this, job.options) {
    // Only the module answers: a datagram from anywhere else is no reply.
    link.TakeRepliesOnlyFromModule();
    // Every module of a run gets the same image: its range and CRC are worked out once.
    link.UseKnownImage(job.plan.verify);
    link.UseKnownProgram(std::move(program));
    link.RunOn(links);
}

ModuleUpdate::~ModuleUpdate() {
    link.StopWorker();
}

void ModuleUpdate::Start(Clock::time_point now) {
    started = now;
    lastTick = now;
    listener.Start(target, job.file, job.plan);
    if (!procedure.OnInitDialog()) {
        EndWith(ModuleResult::Failed, ExitCode::Usage, "no module address", "untouched");
    }
}

bool ModuleUpdate::RunSent() const {
    const auto progress = link.GetProgress();
    return progress && progress->done >= progress->total;
}

std::optional<ModuleUpdate::Clock::time_point> ModuleUpdate::NextDue() const {
    if (Ended()) {
        return std::nullopt;
    }
    if (probe) {
        return std::min(probe->NextDue(), nextRun);
    }
    if (!timerRunning) {
        return std::nullopt;
    }
    switch (procedure.State()) {
    case UpdateState::WakeDelay:
    case UpdateState::StartLink:
        // The module's own time after the wake string: the window's ticks, exactly.
        return lastTick + UpdateProcedure::tickPeriod;
    case UpdateState::Programming:
        return lastTick + progressEvery;
    case UpdateState::Finish:
        // The procedure does not wait for Run's answer, but Run must have left before the
        // application is asked for.
        return RunSent() ? lastTick : lastTick + std::chrono::milliseconds(1);
    case UpdateState::AwaitReply:
        return std::nullopt;
    case UpdateState::Prepare:
    case UpdateState::Wake:
    case UpdateState::StartApplication:
    case UpdateState::Fail:
        return lastTick;
    }
    return std::nullopt;
}

void ModuleUpdate::Step(Clock::time_point now) {
    if (Ended()) {
        return;
    }
    if (probe) {
        if (probe->GaveUp(now)) {
            EndWith(ModuleResult::Failed, ExitCode::NotConfirmed,
                    "the flash verified, but the application did not answer within " +
                        std::to_string(ApplicationProbe::afterRun.count()) + " s after Run",
                    "started, not answering");
            return;
        }
        probe->Step(now);
        if (now >= nextRun && RunSent()) {
            const Attempts& run = UpdateProcedure::runAttempts;
            link.SendCommand(BootCommand::Run, run.count, run.timeout);
            nextRun = now + runAgainEvery;
        }
        return;
    }
    lastTick = now;
    // Run must have left before the procedure goes on to ask for the application.
    if (procedure.State() != UpdateState::Finish || RunSent()) {
        procedure.OnTick();
    }
}

void ModuleUpdate::OnLinkEvent(const LinkEvent& event) {
    if (Ended() || procedureResult) {
        return;
    }
    switch (event.kind) {
    case LinkEvent::Kind::Reply:
        procedure.OnLinkReply(event.reply);
        break;
    case LinkEvent::Kind::Timeout:
        procedure.OnLinkTimeout(event.reply.command);
        break;
    case LinkEvent::Kind::Resend:
        listener.Resent(target, event.reply.command, event.send);
        break;
    }
}

int ModuleUpdate::ProbeFd() const {
    return probe && !Ended() ? probe->Fd() : -1;
}

void ModuleUpdate::OnProbeReadable(Clock::time_point) {
    if (probe && !Ended()) {
        probe->OnReadable();
        if (probe->Answered()) {
            EndConfirmed();
        }
    }
}

void ModuleUpdate::Interrupt(Clock::time_point) {
    if (Ended()) {
        return;
    }
    link.StopWorker();
    const std::string where = phase ? std::string(PhaseName(*phase)) : "starting";
    EndWith(ModuleResult::Interrupted, ExitCode::Interrupted, "interrupted in phase " + where,
            LeftIn());
}

void ModuleUpdate::SetProgressRange(int, int maximum) {
    progressRange = maximum;
}

void ModuleUpdate::SetProgressPosition(int position) {
    if (phase == Phase::Program) {
        listener.Progress(target, static_cast<std::uint32_t>(position),
                          static_cast<std::uint32_t>(progressRange));
    }
}

void ModuleUpdate::ShowMessage(const std::string& text) {
    // The window's words; the fleet says what happened in its own (EndFailed).
    messages.push_back(text);
}

void ModuleUpdate::EndDialog(UpdateResult result) {
    procedureResult = result;
    if (result == UpdateResult::Cancel) {
        link.StopWorker();
        EndFailed();
        return;
    }
    if (!job.confirm) {
        link.StopWorker();
        EndConfirmed();
        return;
    }
    EnterPhase(Phase::Confirm);
    probe.emplace(target.address, static_cast<MessageSink&>(*this));
    nextRun = Clock::now() + runAgainEvery;
    if (!probe->Open(Clock::now())) {
        EndWith(ModuleResult::Failed, ExitCode::Failed, "cannot open a UDP socket to confirm",
                "started");
    }
}

bool ModuleUpdate::Open(std::uint16_t port, DeviceAddress address) {
    return link.Open(port, address);
}

void ModuleUpdate::SendRaw(std::span<const std::uint8_t> bytes) {
    link.SendRaw(bytes);
    EnterPhase(Phase::Wake);
}

bool ModuleUpdate::SendCommand(BootCommand command, std::uint16_t attempts,
                               std::chrono::milliseconds timeout) {
    const bool armed = link.SendCommand(command, attempts, timeout);
    switch (command) {
    case BootCommand::Erase:
        EnterPhase(Phase::Erase);
        break;
    case BootCommand::Program:
        EnterPhase(Phase::Program);
        break;
    case BootCommand::Verify:
        EnterPhase(procedure.CheckingFirst() ? Phase::Check : Phase::Verify);
        break;
    case BootCommand::Run:
        EnterPhase(Phase::Run);
        break;
    case BootCommand::Query:
        break;
    }
    return armed;
}

void ModuleUpdate::EnterPhase(Phase next) {
    if (phase == Phase::Program && next != Phase::Program) {
        // The last frame was answered: programming is whole, whatever the last tick saw.
        listener.Progress(target, job.plan.lines, job.plan.lines);
    }
    if (phase != next) {
        phase = next;
        listener.PhaseBegins(target, next);
    }
}

void ModuleUpdate::EndFailed() {
    FailureText failure = DescribeFailure(procedure, job, messages);
    EndWith(failure.result, failure.code, std::move(failure.error), LeftIn());
}

std::string ModuleUpdate::LeftIn() const {
    return WhereLeft(phase, procedure.Failure());
}

void ModuleUpdate::EndConfirmed() {
    ModuleResult result = ModuleResult::Done;
    if (procedure.Unchanged()) {
        result = ModuleResult::Unchanged;
    } else if (job.options.mode == UpdateMode::VerifyOnly) {
        result = ModuleResult::Verified;
    }
    ModuleOutcome confirmed;
    if (probe && probe->Answered()) {
        confirmed.name = probe->Answer().moduleName;
        confirmed.version = probe->Answer().versionText;
        confirmed.mac = MacText(probe->Answer().macAddress);
    }
    confirmed.result = result;
    confirmed.code = ExitCode::Done;
    End(std::move(confirmed));
}

void ModuleUpdate::EndWith(ModuleResult result, ExitCode code, std::string error,
                           std::string leftIn) {
    ModuleOutcome ended;
    ended.result = result;
    ended.code = code;
    ended.error = std::move(error);
    ended.leftIn = std::move(leftIn);
    End(std::move(ended));
}

void ModuleUpdate::End(ModuleOutcome ended) {
    ended.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    ended.moduleCrc = procedure.ModuleCrc();
    outcome = std::move(ended);
    probe.reset();
    link.StopWorker();
}

} // namespace ostrel
