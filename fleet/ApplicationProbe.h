#pragma once

#include "common/MessageSink.h"
#include "devices/ManagementDatagrams.h"
#include "net/UdpEndpoint.h"

#include <chrono>
#include <optional>

namespace ostrel {

// Management read requests, as the setup dialog sends them, until the module's application
// answers, for at most a limit: after Run ten seconds, and before an update to learn what the
// module ran. It never blocks: the fleet's loop waits on Fd() and calls Step when NextDue()
// has come.
class ApplicationProbe {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds afterRun{10};
    static constexpr std::chrono::milliseconds requestEvery{250};

    ApplicationProbe(DeviceAddress module, MessageSink& messages,
                     std::chrono::milliseconds limit = afterRun);

    bool Open(Clock::time_point now);
    int Fd() const { return endpoint.NativeHandle(); }
    Clock::time_point NextDue() const;
    void Step(Clock::time_point now);
    void OnReadable();

    bool Answered() const { return answer.has_value(); }
    bool GaveUp(Clock::time_point now) const { return !Answered() && now >= deadline; }
    const ManagementReply& Answer() const { return *answer; }

private:
    DeviceAddress module;
    std::chrono::milliseconds limit;
    UdpEndpoint endpoint;
    Clock::time_point nextRequest{};
    Clock::time_point deadline{};
    std::optional<ManagementReply> answer;
};

} // namespace ostrel
