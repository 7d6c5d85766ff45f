#pragma once

#include "bootlink/LinkOperations.h"
#include "common/DeviceAddress.h"
#include "update/UpdateOptions.h"
#include "update/UpdateView.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace ostrel {

enum class UpdateState : int {
    Prepare = 0,
    Wake = 1,
    StartLink = 2,
    Programming = 3,
    StartApplication = 4,
    Finish = 5,
    Fail = 6,
    WakeDelay = 7,
    AwaitReply = 8,
};

// One firmware update of one module, driven by timer ticks: open the file and the endpoint,
// wake the bootloader, erase, program, verify the module's CRC against the image's, and start
// the new application. Link replies and time-outs come in as calls on the same thread. The
// window runs the whole update (Program); a fleet may also ask for the module's CRC first
// (ProgramUnlessSame, VerifyOnly), and reads why a try failed.
class UpdateProcedure {
public:
    static constexpr std::chrono::milliseconds tickPeriod{300};
    static constexpr std::uint16_t modulePort = 6234;
    static constexpr std::array<std::uint8_t, 5> wakeString = {'7', '0', '8', '1', '4'};
    // Ticks of delay after the wake string; the StartLink tick after them, the ninth, sends the
    // first command, 2.7 s after the wake string.
    static constexpr int wakeDelayTicks = 8;

    static constexpr Attempts runAttempts{1, std::chrono::milliseconds(10)};

    UpdateProcedure(std::string fileName, DeviceAddress moduleAddress, LinkOperations& link,
                    LinkListener& listener, UpdateView& view, UpdateOptions options = {});

    // False when there is no address: then no timer runs and the dialog waits for Cancel.
    bool OnInitDialog();
    void OnTick();
    void OnLinkReply(const LinkReply& reply);
    void OnLinkTimeout(BootCommand command);
    void OnCancel();

    UpdateState State() const { return state; }
    bool Completed() const { return completed; }
    UpdateFailure Failure() const { return failure; }
    BootCommand TimedOutCommand() const { return timedOutCommand; }
    // The module already held the image (ProgramUnlessSame): nothing was erased or written.
    bool Unchanged() const { return unchanged; }
    // The CRC the module reported for the image range, once it has.
    std::optional<std::uint16_t> ModuleCrc() const { return moduleCrc; }
    // True while the first Verify of ProgramUnlessSame or VerifyOnly is outstanding.
    bool CheckingFirst() const { return checkingFirst; }

private:
    void Prepare();
    void Wake();
    void StartLink();
    void ShowProgrammingProgress();
    void StartApplication();
    void Finish();
    void Fail();
    void WakeDelay();
    void CheckModuleCrc(const LinkReply& reply);
    void CheckFirst(const LinkReply& reply);
    bool ModuleCrcMatches(const LinkReply& reply);
    void FailWith(UpdateFailure why);

    std::string fileName;
    DeviceAddress moduleAddress;
    LinkOperations& link;
    LinkListener& listener;
    UpdateView& view;
    UpdateOptions options;

    UpdateState state = UpdateState::Prepare;
    bool completed = false;
    bool linkActive = false; // from Erase sent until a time-out or the Verify reply
    UpdateState stateAfterDelay = UpdateState::Prepare;
    int delayTicks = 0;
    bool checkingFirst = false;
    bool unchanged = false;
    UpdateFailure failure = UpdateFailure::None;
    BootCommand timedOutCommand = BootCommand::Query;
    std::optional<std::uint16_t> moduleCrc;
};

} // namespace ostrel
