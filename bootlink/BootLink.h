#pragma once

#include "bootlink/FrameBuilder.h"
#include "bootlink/FrameDecoder.h"
#include "bootlink/LinkLoop.h"
#include "bootlink/LinkOperations.h"
#include "bootlink/ProgramFrames.h"
#include "bootlink/ReplyFilter.h"
#include "bootlink/WorkerPasses.h"
#include "common/MessageSink.h"
#include "common/WakeEvent.h"
#include "image/HexImage.h"
#include "net/UdpEndpoint.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

namespace ostrel {

// The host end of the bootloader protocol: the HEX file, a UDP endpoint to one module, and a
// worker that sends, resends on time-out, receives and reports: a thread of its own, or the
// passes a LinkLoop runs for many links on one thread. Each copy waits the
// time-out the command was given, or longer on a path whose round trip is longer (ReplyFilter).
//
// Hand-over between the driving thread and the worker: a command is handed over only while
// the link is idle; its frame, attempts and time-out are complete before attemptsLeft is
// stored (release), and the worker sends only after it has loaded attemptsLeft (acquire).
class BootLink final : public LinkOperations, private WorkerPasses {
public:
    static constexpr std::size_t maxReplyDatagram = 245;
    static constexpr std::chrono::milliseconds runTimeout{10};

    explicit BootLink(MessageSink& messages);
    BootLink(const BootLink&) = delete;
    BootLink& operator=(const BootLink&) = delete;
    ~BootLink() override;

    // From now on a datagram from any address but the module's is no reply (the window takes
    // replies from any sender, as it always has). To be called before the worker starts.
    void TakeRepliesOnlyFromModule();
    // The image's range and CRC, worked out once for many links of the same file: Verify and
    // ImageCrc take them instead of building the 5 MiB image again. The window builds it.
    void UseKnownImage(const HexImage::BuildResult& range) { knownImage = range; }
    // The file's Program frames, built once for many links of the same file: the link then
    // sends these and reads no file of its own. To be called before the file is loaded.
    void UseKnownProgram(std::shared_ptr<const ProgramFrames> program) {
        knownProgram = std::move(program);
    }
    // The worker's passes run on this loop instead of a thread of the link's own. To be called
    // before the worker starts; the loop must outlive the link's worker.
    void RunOn(LinkLoop& loop) { sharedLoop = &loop; }

    bool LoadHexFile(const std::string& path) override;
    bool Open(std::uint16_t port, DeviceAddress address) override;
    bool IsOpen() const override;
    void SendRaw(std::span<const std::uint8_t> bytes) override;
    void StartWorker(LinkListener& listener) override;
    void StopWorker() override;
    bool SendCommand(BootCommand command, std::uint16_t attempts,
                     std::chrono::milliseconds timeout) override;
    std::optional<LinkProgress> GetProgress() const override;
    std::uint16_t ImageCrc() override;

private:
    enum class RetryState { Idle, Waiting };
    using Clock = std::chrono::steady_clock;

    bool Arm(BootCommand command, std::uint16_t attempts, std::chrono::milliseconds timeout,
             bool restartProgram);
    // The known program's next frame, as frames.Build would have built it from the file.
    bool TakeKnownFrame(bool restartProgram);
    void WorkerMain(std::stop_token stop);
    // WorkerPasses
    WaitPlan PlanWait() override;
    bool Pass(const WaitPlan& plan, bool readable, bool woken) override;
    int SocketFd() const override { return endpoint.NativeHandle(); }
    int WakeFd() const override { return wake.Fd(); }
    // True when the pass received a datagram or was woken.
    bool ReceiveStep(bool readable, bool woken);
    bool RetryStep();
    void DispatchReply();
    // Posts a copy of the reply's data, so the receiver never reads the worker's buffer.
    void PostReply(BootCommand command);
    void ReportTimeout();
    void ClearRetry();
    void SendFrame(bool resend);

    // Shared by both threads.
    std::atomic<LinkListener*> listener{nullptr};
    std::atomic<std::uint8_t> currentCommand{0};
    std::atomic<std::uint16_t> attempts{0};
    std::atomic<std::uint16_t> attemptsLeft{0};
    // Written by whoever arms a command, read by the worker after attemptsLeft.
    std::chrono::milliseconds timeout{0};
    FrameBuilder frames;
    HexImage image;
    std::optional<HexImage::BuildResult> knownImage;
    std::shared_ptr<const ProgramFrames> knownProgram;
    std::atomic<std::uint32_t> knownProgramBuilds{0}; // since the restart, as its progress
    UdpEndpoint endpoint;
    // Ends the worker's wait at once when a command is armed or a stop is asked for.
    WakeEvent wake;

    // The worker's own.
    FrameDecoder decoder;
    ReplyFilter replies;
    RetryState retryState = RetryState::Idle;
    bool timedOut = false;
    Clock::time_point deadline{};

    LinkLoop* sharedLoop = nullptr;
    std::optional<LinkLoop::Place> placeOnLoop; // the driving thread's
    std::jthread worker;
};

} // namespace ostrel
