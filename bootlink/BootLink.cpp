#include "bootlink/BootLink.h"

#include "common/Timespec.h"

#include <algorithm>
#include <array>
#include <poll.h>

namespace ostrel {

BootLink::BootLink(MessageSink& messages) : endpoint(messages) {}

BootLink::~BootLink() {
    StopWorker();
    endpoint.Close();
    image.Close();
}

bool BootLink::LoadHexFile(const std::string& path) {
    if (knownProgram) {
        return true; // its frames were built from this file: there is nothing left to read
    }
    return image.Open(path);
}

bool BootLink::Open(std::uint16_t port, DeviceAddress address) {
    return endpoint.Open(port, address);
}

void BootLink::TakeRepliesOnlyFromModule() {
    endpoint.AcceptOnlyFromPeer();
}

bool BootLink::IsOpen() const {
    return endpoint.IsOpen();
}

void BootLink::SendRaw(std::span<const std::uint8_t> bytes) {
    endpoint.Send(bytes);
}

void BootLink::StartWorker(LinkListener& newListener) {
    listener.store(&newListener);
    if (sharedLoop != nullptr) {
        if (!placeOnLoop) {
            placeOnLoop = sharedLoop->Add(*this);
        }
    } else if (!worker.joinable()) {
        worker = std::jthread([this](std::stop_token stop) { WorkerMain(stop); });
    }
}

void BootLink::StopWorker() {
    if (placeOnLoop) {
        sharedLoop->Remove(*placeOnLoop);
        placeOnLoop.reset();
    }
    if (worker.joinable()) {
        worker.request_stop();
        wake.Signal();
        worker.join();
    }
}

bool BootLink::SendCommand(BootCommand command, std::uint16_t attemptCount,
                           std::chrono::milliseconds attemptTimeout) {
    if (!Arm(command, attemptCount, attemptTimeout, true)) {
        return false;
    }
    wake.Signal(); // the first copy leaves now, not after the worker's receive time-out
    return true;
}

bool BootLink::Arm(BootCommand command, std::uint16_t attemptCount,
                   std::chrono::milliseconds attemptTimeout, bool restartProgram) {
    currentCommand.store(static_cast<std::uint8_t>(command));
    const bool built = command == BootCommand::Program && knownProgram
                           ? TakeKnownFrame(restartProgram)
                           : frames.Build(command, image, restartProgram, knownImage);
    if (!built) {
        return false;
    }
    if (command == BootCommand::Run) {
        attemptCount = 1;
        attemptTimeout = runTimeout;
    }
    timeout = attemptTimeout;
    attempts.store(attemptCount, std::memory_order_relaxed);
    attemptsLeft.store(attemptCount, std::memory_order_release); // hands the frame over
    return true;
}

bool BootLink::TakeKnownFrame(bool restartProgram) {
    const std::uint32_t build = restartProgram ? 0 : knownProgramBuilds.load();
    // A build that finds no record counts too: the file's reader had read its last line then.
    knownProgramBuilds.store(
        std::min<std::uint32_t>(build + 1, static_cast<std::uint32_t>(knownProgram->Count() + 1)));
    if (build >= knownProgram->Count()) {
        return false;
    }
    frames.Use(knownProgram->Frame(build));
    return true;
}

std::optional<LinkProgress> BootLink::GetProgress() const {
    switch (static_cast<BootCommand>(currentCommand.load())) {
    case BootCommand::Program:
        if (knownProgram) {
            const std::uint32_t builds = knownProgramBuilds.load();
            return LinkProgress{builds == 0 ? 0 : knownProgram->LinesAfterBuild(builds - 1),
                                knownProgram->LineCount()};
        }
        return LinkProgress{image.LinesRead(), image.LineCount()};
    case BootCommand::Query:
    case BootCommand::Erase:
    case BootCommand::Verify:
    case BootCommand::Run: {
        const std::uint16_t given = attempts.load(std::memory_order_relaxed);
        return LinkProgress{static_cast<std::uint32_t>(given - attemptsLeft.load()), given};
    }
    }
    return std::nullopt;
}

std::uint16_t BootLink::ImageCrc() {
    return knownImage ? knownImage->crc : image.Build().crc;
}

void BootLink::WorkerMain(std::stop_token stop) {
    while (!stop.stop_requested()) {
        const WaitPlan plan = PlanWait();
        std::array<pollfd, 2> waitOn{{{SocketFd(), POLLIN, 0}, {WakeFd(), POLLIN, 0}}};
        const timespec limit = TimespecOf(plan.wait.value_or(std::chrono::nanoseconds::zero()));
        ::ppoll(waitOn.data(), waitOn.size(), plan.wait ? &limit : nullptr, nullptr);
        if (Pass(plan, (waitOn[0].revents & POLLIN) != 0, (waitOn[1].revents & POLLIN) != 0)) {
            std::this_thread::sleep_for(idleRest);
        }
    }
}

BootLink::WaitPlan BootLink::PlanWait() {
    // A send held back for the answer's copies is waited for, not slept past.
    const auto held = replies.SendHeldFor(ReplyFilter::Clock::now());
    const bool armed = attemptsLeft.load(std::memory_order_acquire) != 0;
    WaitPlan plan;
    plan.holding = armed && retryState == RetryState::Idle && held > held.zero();
    // With nothing armed, outstanding or declared there is nothing to time: the worker sleeps
    // until a datagram comes, a command is armed or it is asked to stop (each of which signals
    // wake), instead of waking fifty times a second for nothing.
    plan.timing = armed || retryState != RetryState::Idle || timedOut;
    if (plan.holding) {
        plan.wait = std::chrono::duration_cast<std::chrono::nanoseconds>(held);
    } else if (plan.timing) {
        plan.wait = UdpEndpoint::receiveTimeout;
    }
    return plan;
}

bool BootLink::Pass(const WaitPlan& plan, bool readable, bool woken) {
    const bool active = ReceiveStep(readable, woken);
    const bool sent = RetryStep();
    // Only an idle pass rests: after a reply, a wake or a send the next wait follows at once.
    return !active && !sent && !plan.holding && plan.timing;
}

bool BootLink::ReceiveStep(bool readable, bool woken) {
    if (woken) {
        wake.Drain();
    }
    std::array<std::uint8_t, 256> buffer;
    UdpEndpoint::Arrival received;
    if (readable) {
        received = endpoint.ReceiveWithArrival(std::span(buffer).first(maxReplyDatagram));
    }
    decoder.DecodeBytes(std::span(buffer).first(received.length));
    if (decoder.FrameReady()) {
        decoder.ClearFrameReady();
        // Only a command that went out and is still answerable takes a reply, and only its own
        // answer: a duplicate, or a late answer to an earlier frame or copy, is dropped. A good
        // reply also cancels a time-out that was declared but not yet reported.
        const bool outstanding = retryState == RetryState::Waiting || timedOut;
        if (!outstanding) {
            replies.NoteIdle(decoder.Frame()[0], received.at);
        } else if (replies.Accept(decoder.Frame()[0], received.at)) {
            ClearRetry();
            timedOut = false;
            DispatchReply();
        }
    } else if (timedOut) {
        timedOut = false;
        ReportTimeout();
    }
    return received.length > 0 || woken;
}

void BootLink::DispatchReply() {
    const auto command = static_cast<BootCommand>(decoder.Frame()[0]);
    switch (command) {
    case BootCommand::Query:
    case BootCommand::Erase:
    case BootCommand::Verify:
        PostReply(command);
        break;
    case BootCommand::Program:
        // The next frame leaves in this same pass; only the last frame's reply is reported.
        if (!Arm(BootCommand::Program, attempts.load(std::memory_order_relaxed), timeout, false)) {
            PostReply(command);
        }
        break;
    case BootCommand::Run:
        break;
    }
}

void BootLink::PostReply(BootCommand command) {
    LinkReply reply;
    reply.command = command;
    const auto data = decoder.ReplyData();
    reply.length = data.size();
    std::copy(data.begin(), data.end(), reply.data.begin());
    listener.load()->PostLinkReply(reply);
}

void BootLink::ReportTimeout() {
    const auto command = static_cast<BootCommand>(currentCommand.load());
    switch (command) {
    case BootCommand::Query:
    case BootCommand::Erase:
    case BootCommand::Program:
    case BootCommand::Verify:
        listener.load()->PostLinkTimeout(command);
        break;
    case BootCommand::Run:
        break;
    }
}

void BootLink::ClearRetry() {
    retryState = RetryState::Idle;
    attemptsLeft.store(0);
}

void BootLink::SendFrame(bool resend) {
    const std::uint8_t command = currentCommand.load();
    const bool last = attemptsLeft.load(std::memory_order_relaxed) == 1;
    deadline = Clock::now() + replies.TimeoutFor(command, timeout, last);
    replies.NoteSend(command, ReplyFilter::Clock::now(), resend);
    endpoint.Send(frames.Frame());
    attemptsLeft.fetch_sub(1);
}

bool BootLink::RetryStep() {
    if (retryState == RetryState::Idle) {
        if (attemptsLeft.load(std::memory_order_acquire) == 0 ||
            replies.SendHeldFor(ReplyFilter::Clock::now()) > ReplyFilter::Clock::duration::zero()) {
            return false;
        }
        SendFrame(false);
        retryState = RetryState::Waiting;
        return true;
    }
    if (Clock::now() <= deadline) {
        return false;
    }
    if (attemptsLeft.load(std::memory_order_acquire) == 0) {
        timedOut = true;
        retryState = RetryState::Idle;
        return false;
    }
    SendFrame(true);
    const auto sends = static_cast<std::uint16_t>(attempts.load(std::memory_order_relaxed) -
                                                  attemptsLeft.load(std::memory_order_relaxed));
    listener.load()->PostLinkResend(static_cast<BootCommand>(currentCommand.load()), sends);
    return true;
}

} // namespace ostrel
