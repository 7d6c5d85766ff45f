#include "update/UpdateProcedure.h"

namespace ostrel {

UpdateProcedure::UpdateProcedure(std::string file, DeviceAddress address, LinkOperations& bootLink,
                                 LinkListener& linkListener, UpdateView& updateView)
    : fileName(std::move(file)), moduleAddress(address), link(bootLink), listener(linkListener),
      view(updateView) {}

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
        state = UpdateState::Fail;
        view.ShowMessage("can't load hex file");
        return;
    }
    link.Open(modulePort, moduleAddress);
    if (link.IsOpen()) {
        state = UpdateState::Wake;
    } else {
        state = UpdateState::Fail;
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
    link.SendCommand(BootCommand::Erase, eraseAttempts.count, eraseAttempts.timeout);
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
            const bool sent = link.SendCommand(BootCommand::Program, programAttempts.count,
                                               programAttempts.timeout);
            state = sent ? UpdateState::Programming : UpdateState::Fail;
        }
        break;
    case BootCommand::Program:
        if (linkActive) {
            state = UpdateState::AwaitReply;
            link.SendCommand(BootCommand::Verify, verifyAttempts.count, verifyAttempts.timeout);
        }
        break;
    case BootCommand::Verify:
        CheckModuleCrc(reply);
        linkActive = false;
        break;
    case BootCommand::Query:
    case BootCommand::Run:
        break;
    }
}

void UpdateProcedure::CheckModuleCrc(const LinkReply& reply) {
    const auto data = reply.Data();
    // A reply too short to hold a CRC cannot confirm anything.
    const bool match = data.size() >= 2 && (data[0] | data[1] << 8) == link.ImageCrc();
    state = match ? UpdateState::StartApplication : UpdateState::Fail;
}

void UpdateProcedure::OnLinkTimeout(BootCommand command) {
    linkActive = false;
    switch (command) {
    case BootCommand::Query:
    case BootCommand::Erase:
    case BootCommand::Program:
    case BootCommand::Verify:
        state = UpdateState::Fail;
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
    view.StopTimer();
    view.EndDialog(UpdateResult::Cancel);
}

} // namespace ostrel
