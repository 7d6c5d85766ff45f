#include "net/ReceivedDatagram.h"

#include "net/WireTrace.h"

#include <array>
#include <cstring>
#include <ctime>
#include <sys/socket.h>

namespace ostrel {

std::optional<ReceivedDatagram> ReceiveDatagram(int fd, std::span<std::uint8_t> buffer, int flags) {
    ReceivedDatagram datagram;
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(timespec)) + CMSG_SPACE(sizeof(in_pktinfo))>
        control{};
    iovec data{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_name = &datagram.source;
    message.msg_namelen = sizeof datagram.source;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t received = ::recvmsg(fd, &message, flags);
    if (received < 0) {
        return std::nullopt;
    }
    datagram.length = static_cast<std::size_t>(received);
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(header), sizeof stamp);
            datagram.arrival = std::chrono::system_clock::time_point(
                std::chrono::duration_cast<std::chrono::system_clock::duration>(
                    std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
        } else if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            datagram.destination = ntohl(info.ipi_addr.s_addr);
            datagram.interfaceIndex = info.ipi_ifindex;
        }
    }
    TraceReceived(fd, buffer, datagram);
    return datagram;
}

} // namespace ostrel
