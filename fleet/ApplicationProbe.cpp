#include "fleet/ApplicationProbe.h"

#include "devices/SettingsRead.h"

#include <algorithm>

namespace ostrel {

ApplicationProbe::ApplicationProbe(DeviceAddress address, MessageSink& messages,
                                   std::chrono::milliseconds giveUpAfter)
    : module(address), limit(giveUpAfter), endpoint(messages) {}

bool ApplicationProbe::Open(Clock::time_point now) {
    if (!endpoint.Open(managementPort, module)) {
        return false;
    }
    endpoint.AcceptOnlyFromPeer();
    nextRequest = now;
    deadline = now + limit;
    return true;
}

ApplicationProbe::Clock::time_point ApplicationProbe::NextDue() const {
    return std::min(nextRequest, deadline);
}

void ApplicationProbe::Step(Clock::time_point now) {
    if (!Answered() && now >= nextRequest && now < deadline) {
        endpoint.Send(BuildReadRequest());
        nextRequest = now + requestEvery;
    }
}

void ApplicationProbe::OnReadable() {
    SettingsRead::Reply bytes{};
    const std::size_t received = endpoint.Receive(bytes);
    if (received >= SettingsRead::acceptedLength) {
        const ManagementReply reply = ParseReply(std::span(bytes).first(received));
        if (reply.magicValid) {
            answer = reply;
        }
    }
}

} // namespace ostrel
