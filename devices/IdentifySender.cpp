#include "devices/IdentifySender.h"

#include "common/UniqueFd.h"
#include "devices/ManagementDatagrams.h"
#include "net/UdpSocket.h"
#include "net/WireTrace.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace ostrel {

namespace {

// Nothing is received; the socket is set up as every socket of the program is.
constexpr std::chrono::milliseconds identifyReceiveTimeout{20};

} // namespace

void SendIdentify(DeviceAddress module, bool on, MessageSink& messages) {
    const UniqueFd sock =
        OpenUdpSocket(identifyReceiveTimeout, messages, SocketFailureStyle::Plain);
    if (!sock.IsValid()) {
        return;
    }
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(managementPort);
    destination.sin_addr.s_addr = htonl(module);
    const IdentifyDatagram datagram = BuildIdentifyDatagram(on);
    TraceSent(sock.Get(), datagram, destination);
    ::sendto(sock.Get(), datagram.data(), datagram.size(), 0,
             reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
}

} // namespace ostrel
