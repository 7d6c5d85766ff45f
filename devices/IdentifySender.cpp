#include "devices/IdentifySender.h"

#include "common/UniqueFd.h"
#include "devices/ManagementDatagrams.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace ostrel {

void SendIdentify(DeviceAddress module, bool on, MessageSink& messages) {
    const UniqueFd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    if (!sock.IsValid()) {
        messages.Show({"Socket creation failed!", {}, MessageIcon::None});
        return;
    }
    const timeval timeout{0, 20000};
    if (::setsockopt(sock.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
        messages.Show({"Failed to set the receive time out!", {}, MessageIcon::None});
        return;
    }
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(managementPort);
    destination.sin_addr.s_addr = htonl(module);
    const IdentifyDatagram datagram = BuildIdentifyDatagram(on);
    ::sendto(sock.Get(), datagram.data(), datagram.size(), 0,
             reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
}

} // namespace ostrel
