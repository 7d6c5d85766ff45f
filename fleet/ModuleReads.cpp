#include "fleet/ModuleReads.h"

#include "common/EventWait.h"
#include "fleet/ApplicationProbe.h"

#include <memory>

namespace ostrel {

std::vector<std::optional<ManagementReply>> ReadModules(const std::vector<DeviceAddress>& modules,
                                                        std::chrono::milliseconds limit,
                                                        int stopFd) {
    struct Silent final : MessageSink {
        void Show(const Message&) override {}
    } silent;
    std::vector<std::unique_ptr<ApplicationProbe>> probes;
    for (const DeviceAddress module : modules) {
        auto probe = std::make_unique<ApplicationProbe>(module, silent, limit);
        probes.push_back(probe->Open(ApplicationProbe::Clock::now()) ? std::move(probe) : nullptr);
    }
    EventWait wait;
    for (bool stopped = false; !stopped;) {
        const auto at = ApplicationProbe::Clock::now();
        wait.Watch(stopFd, [&] { stopped = true; });
        for (const auto& probe : probes) {
            if (probe == nullptr || probe->Answered() || probe->GaveUp(at)) {
                continue;
            }
            probe->Step(at);
            wait.Until(probe->NextDue());
            wait.Watch(probe->Fd(), [&probe] { probe->OnReadable(); });
        }
        if (!wait.Due()) {
            break;
        }
        wait.Wait();
    }
    std::vector<std::optional<ManagementReply>> replies;
    for (const auto& probe : probes) {
        replies.push_back(probe != nullptr && probe->Answered() ? std::optional(probe->Answer())
                                                                : std::nullopt);
    }
    return replies;
}

} // namespace ostrel
