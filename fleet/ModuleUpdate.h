#pragma once

#include "bootlink/BootLink.h"
#include "fleet/ApplicationProbe.h"
#include "fleet/FleetListener.h"
#include "fleet/LinkEventQueue.h"
#include "fleet/UpdateJob.h"
#include "update/UpdateProcedure.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

// One try of one module's update in a fleet: the window's own procedure and link, given their
// ticks by the fleet's loop at once wherever the module needs no delay. The 300 ms period is kept
// only between the wake string and Erase (2.7 s), which the module relies on; while programming
// a tick every 100 ms reads the progress. All calls come from the fleet's one thread; the link's
// passes on the fleet's link loop only post to the queue.
class ModuleUpdate final : private UpdateView, private LinkOperations, private MessageSink {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds progressEvery{100};
    // While the application is awaited, Run goes again this often: the link sends it once and
    // awaits no answer, so a lost Run would leave the module in its bootloader for good.
    static constexpr std::chrono::seconds runAgainEvery{1};

    // The try's link runs its worker on links, and sends the run's program when one is given.
    ModuleUpdate(ModuleTarget target, const UpdateJob& job, FleetListener& listener,
                 LinkEventQueue& queue, LinkLoop& links,
                 std::shared_ptr<const ProgramFrames> program, std::size_t tryId);
    ModuleUpdate(const ModuleUpdate&) = delete;
    ModuleUpdate& operator=(const ModuleUpdate&) = delete;
    ~ModuleUpdate() override;

    void Start(Clock::time_point now);
    // When Step wants to run next; nothing while it only waits for the link.
    std::optional<Clock::time_point> NextDue() const;
    void Step(Clock::time_point now);
    void OnLinkEvent(const LinkEvent& event);
    // The probe's socket while the application is awaited, else -1.
    int ProbeFd() const;
    void OnProbeReadable(Clock::time_point now);
    // Ctrl-C: the link stops where it is.
    void Interrupt(Clock::time_point now);

    bool Ended() const { return outcome.has_value(); }
    const ModuleOutcome& Outcome() const { return *outcome; }
    const ModuleTarget& Target() const { return target; }
    std::size_t Id() const { return id; }

private:
    // UpdateView
    void SetProgressRange(int minimum, int maximum) override;
    void SetProgressPosition(int position) override;
    void ShowMessage(const std::string& text) override;
    void StartTimer() override { timerRunning = true; }
    void StopTimer() override { timerRunning = false; }
    void EndDialog(UpdateResult result) override;

    // LinkOperations: the link, with the phases noted on the way.
    bool LoadHexFile(const std::string& path) override { return link.LoadHexFile(path); }
    bool Open(std::uint16_t port, DeviceAddress address) override;
    bool IsOpen() const override { return link.IsOpen(); }
    void SendRaw(std::span<const std::uint8_t> bytes) override;
    void StartWorker(LinkListener& reportTo) override { link.StartWorker(reportTo); }
    void StopWorker() override { link.StopWorker(); }
    bool SendCommand(BootCommand command, std::uint16_t attempts,
                     std::chrono::milliseconds timeout) override;
    std::optional<LinkProgress> GetProgress() const override { return link.GetProgress(); }
    std::uint16_t ImageCrc() override { return link.ImageCrc(); }

    // MessageSink: the endpoint's own messages, kept for the error line.
    void Show(const Message& message) override { messages.push_back(message.text); }

    void EnterPhase(Phase next);
    void EndWith(ModuleResult result, ExitCode code, std::string error, std::string leftIn);
    void End(ModuleOutcome ended);
    void EndFailed();
    void EndConfirmed();
    std::string LeftIn() const;
    bool RunSent() const;

    ModuleTarget target;
    std::size_t id;
    const UpdateJob& job;
    FleetListener& listener;
    QueuedLinkListener linkListener;
    std::vector<std::string> messages;
    BootLink link;
    UpdateProcedure procedure;

    Clock::time_point started{};
    Clock::time_point lastTick{};
    bool timerRunning = false;
    std::optional<UpdateResult> procedureResult;
    std::optional<Phase> phase;
    int progressRange = 0;
    std::optional<ApplicationProbe> probe;
    Clock::time_point nextRun{};
    std::optional<ModuleOutcome> outcome;
};

} // namespace ostrel
