#include "net/UdpSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace ostrel {

UniqueFd OpenUdpSocket(std::chrono::milliseconds receiveTimeout, MessageSink& messages,
                       SocketFailureStyle style) {
    const bool endpoint = style == SocketFailureStyle::Endpoint;
    const MessageIcon icon = endpoint ? MessageIcon::Error : MessageIcon::None;
    UniqueFd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    if (!sock.IsValid()) {
        messages.Show({"Socket creation failed!", endpoint ? "Socket Error" : "", icon});
        return sock;
    }
    const auto micros = std::chrono::microseconds(receiveTimeout).count();
    const timeval timeout{static_cast<time_t>(micros / 1000000),
                          static_cast<suseconds_t>(micros % 1000000)};
    if (::setsockopt(sock.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
        messages.Show({"Failed to set the receive time out!", {}, icon});
        sock.Reset();
    }
    return sock;
}

} // namespace ostrel
