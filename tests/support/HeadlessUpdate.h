#pragma once

#include "bootlink/BootLink.h"
#include "tests/support/MessageRecorder.h"
#include "update/UpdateProcedure.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::test {

// One whole update through the real link and procedure, without a window: link reports are
// queued and handed to the procedure on the test's thread, and ticks come at a period of the
// test's choosing (modules in the test's own process need no wake delay).
class HeadlessUpdate final : private UpdateView, private LinkListener {
public:
    HeadlessUpdate(const std::string& fileName, DeviceAddress moduleAddress);
    ~HeadlessUpdate() override;

    // Runs until the procedure ends the update, at most for the limit; nothing when it did not.
    std::optional<UpdateResult> Run(std::chrono::milliseconds tickPeriod,
                                    std::chrono::milliseconds limit);

    std::vector<std::string> Messages() const { return messages.Texts(); }

private:
    struct Report {
        bool timeout = false;
        LinkReply reply; // only the command for a time-out
    };

    void PostLinkReply(const LinkReply& reply) override;
    void PostLinkTimeout(BootCommand command) override;
    void SetProgressRange(int, int) override {}
    void SetProgressPosition(int) override {}
    void ShowMessage(const std::string& text) override { messages.Show({text, {}, {}}); }
    void StartTimer() override { timerRunning = true; }
    void StopTimer() override { timerRunning = false; }
    void EndDialog(UpdateResult end) override { result = end; }

    MessageRecorder messages;
    BootLink link;
    UpdateProcedure procedure;
    bool timerRunning = false;
    std::optional<UpdateResult> result;

    std::mutex mutex;
    std::condition_variable posted;
    std::deque<Report> reports;
};

} // namespace ostrel::test
