#pragma once

#include "common/DeviceAddress.h"
#include "common/MessageSink.h"
#include "common/UniqueFd.h"

#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <span>

namespace ostrel {

// A blocking UDP socket aimed at one module. It is never bound: the first send binds it to a
// port the system chooses, and the module answers to that port.
class UdpEndpoint {
public:
    static constexpr std::chrono::milliseconds receiveTimeout{20};

    explicit UdpEndpoint(MessageSink& messages);

    // Creates the socket with its 20 ms receive time-out, aimed at port of address. On failure
    // it tells the user why, leaves no socket behind and returns false.
    bool Open(std::uint16_t port, DeviceAddress address);
    // One datagram to the module: the bytes sent, or -1.
    long Send(std::span<const std::uint8_t> data);
    // One datagram from any sender, waiting at most the receive time-out. 0 on time-out, error,
    // or a datagram longer than the buffer.
    std::size_t Receive(std::span<std::uint8_t> buffer);

    struct Arrival {
        std::size_t length = 0;
        // When the kernel took the datagram in (wall clock), or when it was read if the kernel
        // gave no stamp.
        std::chrono::system_clock::time_point at{};
    };
    // Receive, with the datagram's arrival time.
    Arrival ReceiveWithArrival(std::span<std::uint8_t> buffer);
    // Waits until a datagram is ready to be received, at most for the given time.
    bool WaitReadable(std::chrono::milliseconds timeout) const;
    void Close();
    bool IsOpen() const { return sock.IsValid(); }
    // Datagrams from any address but the peer's are dropped from now on.
    void AcceptOnlyFromPeer() { onlyFromPeer = true; }
    // The socket, for waiting on it together with other things; -1 when there is none.
    int NativeHandle() const { return sock.Get(); }

private:
    MessageSink& messages;
    UniqueFd sock;
    sockaddr_in peer{};
    bool onlyFromPeer = false;
};

} // namespace ostrel
