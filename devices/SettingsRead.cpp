#include "devices/SettingsRead.h"

namespace ostrel {

std::optional<SettingsRead::Reply> ReadSettings(UdpEndpoint& endpoint,
                                                const SettingsRead::Wait& wait, int tries) {
    const ManagementRequest request = BuildReadRequest();
    SettingsRead::Reply reply{};
    for (; tries > 0; --tries) {
        endpoint.Send(request);
        wait(endpoint, SettingsRead::replyWait);
        reply.fill(0);
        if (endpoint.Receive(reply) >= SettingsRead::acceptedLength) {
            return reply;
        }
    }
    return std::nullopt;
}

void WaitForDatagram(UdpEndpoint& endpoint, std::chrono::milliseconds limit) {
    endpoint.WaitReadable(limit);
}

} // namespace ostrel
