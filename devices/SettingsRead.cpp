#include "devices/SettingsRead.h"

#include <poll.h>

namespace ostrel {

std::optional<SettingsRead::Reply> ReadSettings(UdpEndpoint& endpoint,
                                                const SettingsRead::Wait& wait, int tries) {
    const ManagementRequest request = BuildReadRequest();
    SettingsRead::Reply reply{};
    for (; tries > 0; --tries) {
        endpoint.Send(request);
        if (!wait(endpoint, SettingsRead::replyWait)) {
            return std::nullopt;
        }
        reply.fill(0);
        if (endpoint.Receive(reply) >= SettingsRead::acceptedLength) {
            return reply;
        }
    }
    return std::nullopt;
}

bool WaitForDatagram(UdpEndpoint& endpoint, std::chrono::milliseconds limit, int stopFd) {
    std::array<pollfd, 2> watched{{{endpoint.NativeHandle(), POLLIN, 0}, {stopFd, POLLIN, 0}}};
    ::poll(watched.data(), watched.size(), static_cast<int>(limit.count()));
    return watched[1].revents == 0;
}

} // namespace ostrel
