#include "update/UpdateProcedure.h"

namespace ostrel {

UpdateTiming UpdateTiming::Adjusted(std::uint16_t attempts, double timeoutScale) const {
    const auto adjust = [&](Attempts given) {
        const auto stretched =
            std::chrono::duration<double, std::milli>(given.timeout) * timeoutScale;
        return Attempts{attempts != 0 ? attempts : given.count,
                        std::chrono::ceil<std::chrono::milliseconds>(stretched)};
    };
    return {adjust(erase), adjust(program), adjust(verify)};
}

UpdateProcedure::UpdateProcedure(std::string file, DeviceAddress address, LinkOperations& bootLink,
                                 LinkListener& linkListener, UpdateView& updateView,
                                 UpdateOptions chosen)
    : fileName(std::move(file)), moduleAddress(address), link(bootLink), listener(linkListener),
      view(updateView), options(chosen) {}

void UpdateProcedure::FailWith(UpdateFailure why) {
    failure = why;
    state = UpdateState::Fail;
}

bool UpdateProcedure::OnInitDialog() {
    view.SetProgressRange(0, 100);
    view.SetProgressPosition(0);
    completed = false;
    if (moduleAddress == 0) {
        view.ShowMessage("Invalid IP address ");
        return false;
    }
    state = UpdateState::Prepare;
    view.StartTimer();
    return true;
}

void UpdateProcedure::OnTick() {
    switch (state) {
    case UpdateState::Prepare:
        Prepare();
        break;
    case UpdateState::Wake:
        Wake();
        break;
    case UpdateState::StartLink:
        StartLink();
        break;
    case UpdateState::Programming:
        ShowProgrammingProgress();
        break;
    case UpdateState::StartApplication:
        StartApplication();
        break;
    case UpdateState::Finish:
        Finish();
        break;
    case UpdateState::Fail:
        Fail();
        break;
    case UpdateState::WakeDelay:
        WakeDelay();
        break;
    case UpdateState::AwaitReply:
        break;
    }
}

// Messages open a nested event loop in which ticks go on, so each step moves the state on
// before anything that can show one (the endpoint shows its own): the step is not repeated
// under its message, and Fail follows.
void UpdateProcedure::Prepare() {
    state = UpdateState::AwaitReply; // a state whose ticks do nothing
    if (!link.LoadHexFile(fileName)) {
        FailWith(UpdateFailure::HexFileUnreadable);
        view.ShowMessage("can't load hex file");
        return;
    }
    link.Open(modulePort, moduleAddress);
    if (link.IsOpen()) {
        state = UpdateState::Wake;
    } else {
        FailWith(UpdateFailure::PortUnavailable);
        view.ShowMessage("Can't open port!");
    }
}

void UpdateProcedure::Wake() {
    link.SendRaw(wakeString);
    view.SetProgressPosition(5);
    delayTicks = wakeDelayTicks;
    stateAfterDelay = UpdateState::StartLink;
    state = UpdateState::WakeDelay;
}

void UpdateProcedure::WakeDelay() {
    if (--delayTicks <= 0) {
        state = stateAfterDelay;
    }
}

void UpdateProcedure::StartLink() {
    link.StopWorker();
    link.StartWorker(listener);
    linkActive = true;
    const UpdateTiming& timing = options.timing;
    if (options.mode == UpdateMode::Program) {
        link.SendCommand(BootCommand::Erase, timing.erase.count, timing.erase.timeout);
    } else {
        checkingFirst = true;
        link.SendCommand(BootCommand::Verify, timing.verify.count, timing.verify.timeout);
    }
    view.SetProgressPosition(10);
    state = UpdateState::AwaitReply;
}

void UpdateProcedure::ShowProgrammingProgress() {
    if (const auto progress = link.GetProgress()) {
        view.SetProgressRange(0, static_cast<int>(progress->total));
        view.SetProgressPosition(static_cast<int>(progress->done));
    }
}

void UpdateProcedure::StartApplication() {
    link.SendCommand(BootCommand::Run, runAttempts.count, runAttempts.timeout);
    state = UpdateState::Finish;
}

void UpdateProcedure::Finish() {
    view.StopTimer();
    completed = true;
    view.EndDialog(UpdateResult::Ok);
}

void UpdateProcedure::Fail() {
    link.StopWorker();
    view.StopTimer();
    view.ShowMessage("Programming Failed!");
    view.EndDialog(UpdateResult::Cancel);
}

void UpdateProcedure::OnLinkReply(const LinkReply& reply) {
    switch (reply.command) {
    case BootCommand::Erase:
        if (linkActive) {
            // A file without a single record to program would wait forever for a reply.
            const Attempts& program = options.timing.program;
            if (link.SendCommand(BootCommand::Program, program.count, program.timeout)) {
                state = UpdateState::Programming;
            } else {
                FailWith(UpdateFailure::NothingToProgram);
            }
        }
        break;
    case BootCommand::Program:
        if (linkActive) {
            state = UpdateState::AwaitReply;
            const Attempts& verify = options.timing.verify;
            link.SendCommand(BootCommand::Verify, verify.count, verify.timeout);
        }
        break;
    case BootCommand::Verify:
        if (checkingFirst) {
            CheckFirst(reply);
            break;
        }
        CheckModuleCrc(reply);
        linkActive = false;
        break;
    case BootCommand::Query:
    case BootCommand::Run:
        break;
    }
}

bool UpdateProcedure::ModuleCrcMatches(const LinkReply& reply) {
    const auto data = reply.Data();
    // A reply too short to hold a CRC cannot confirm anything.
    if (data.size() < 2) {
        return false;
    }
    moduleCrc = static_cast<std::uint16_t>(data[0] | data[1] << 8);
    return *moduleCrc == link.ImageCrc();
}

void UpdateProcedure::CheckModuleCrc(const LinkReply& reply) {
    if (ModuleCrcMatches(reply)) {
        state = UpdateState::StartApplication;
    } else {
        FailWith(UpdateFailure::CrcMismatch);
    }
}

// The answer to the Verify sent before anything was erased: the module already holds the image,
// or it does not.
void UpdateProcedure::CheckFirst(const LinkReply& reply) {
    checkingFirst = false;
    if (ModuleCrcMatches(reply)) {
        unchanged = options.mode == UpdateMode::ProgramUnlessSame;
        linkActive = false;
        state = UpdateState::StartApplication;
    } else if (options.mode == UpdateMode::VerifyOnly) {
        linkActive = false;
        FailWith(UpdateFailure::CrcMismatch);
    } else {
        const Attempts& erase = options.timing.erase;
        link.SendCommand(BootCommand::Erase, erase.count, erase.timeout);
    }
}

void UpdateProcedure::OnLinkTimeout(BootCommand command) {
    linkActive = false;
    switch (command) {
    case BootCommand::Query:
    case BootCommand::Erase:
    case BootCommand::Program:
    case BootCommand::Verify:
        timedOutCommand = command;
        FailWith(UpdateFailure::NoAnswer);
        break;
    case BootCommand::Run:
        break;
    }
}

void UpdateProcedure::OnCancel() {
    if (completed) {
        view.EndDialog(UpdateResult::Ok);
        return;
    }
    failure = UpdateFailure::Cancelled;
    view.StopTimer();
    view.EndDialog(UpdateResult::Cancel);
}

} // namespace ostrel
