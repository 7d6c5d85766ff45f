#pragma once

#include "common/DeviceAddress.h"
#include "common/UniqueFd.h"
#include "net/PcapngBlocks.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <span>
#include <string>

namespace ostrel {

struct ReceivedDatagram;

// One datagram as the trace takes it; addresses and ports in host order.
struct TracedDatagram {
    pcapng::Direction direction = pcapng::Direction::Outbound;
    DeviceAddress local = 0; // 0: the trace finds the address the route to remote leaves from
    std::uint16_t localPort = 0;
    DeviceAddress remote = 0;
    std::uint16_t remotePort = 0;
    std::span<const std::uint8_t> captured;
    std::size_t length = 0; // the datagram's own length, more than captured when it was cut
    std::chrono::system_clock::time_point at;
};

// Every datagram the program sends and receives, in a pcapng file: a section header, an
// interface block for each local interface used, and a packet block with IPv4 and UDP headers
// for each datagram. Each block is written with one write(2) as it comes, so a crash or Ctrl-C
// leaves a file readable up to its last datagram. When a write fails (a full disk) the file is
// cut back to its last whole block, its section comment says it was cut, the warning is given
// once and the trace records nothing more; the work goes on. Safe to call from any thread.
class WireTrace {
public:
    using Warning = std::function<void(const std::string&)>;

    // The trace in a new file (replacing one of that name); nullptr, and why, when it cannot
    // be created.
    static std::unique_ptr<WireTrace> Create(const std::string& path, const std::string& program,
                                             Warning warn, std::string& error);
    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;
    ~WireTrace();

    void Record(const TracedDatagram& datagram);
    bool WasCut() const;
    std::size_t Datagrams() const;

private:
    WireTrace(UniqueFd file, std::string program, Warning warn);
    bool Write(std::span<const std::uint8_t> block);
    void Cut(const std::string& why);
    bool SetComment(const std::string& comment);
    std::uint32_t InterfaceFor(DeviceAddress local);
    DeviceAddress RouteSource(DeviceAddress remote, std::uint16_t port);

    mutable std::mutex mutex;
    UniqueFd file;
    std::string program;
    Warning warn;
    off_t written = 0;
    bool cut = false;
    std::size_t datagrams = 0;
    std::uint16_t nextId = 1;
    std::map<std::string, std::uint32_t> interfaces;    // by name: its block's index
    std::map<DeviceAddress, std::uint32_t> interfaceOf; // by local address: its block's index
    std::map<DeviceAddress, DeviceAddress> sourceFor;   // by remote address
};

// Makes a trace the process's own while it lives, so that every socket of the program, on
// whichever thread, writes to it; a front end's main makes one when asked for a trace. Set up
// before the first socket and gone after the last, it is the only state the process shares.
class WireTraceScope {
public:
    explicit WireTraceScope(WireTrace& trace);
    WireTraceScope(const WireTraceScope&) = delete;
    WireTraceScope& operator=(const WireTraceScope&) = delete;
    ~WireTraceScope();
};

// What the sockets call: nothing happens while no trace is the process's. A datagram is
// traced just before it is sent, so that its stamp and its place come before its answer's.
void TraceSent(int fd, std::span<const std::uint8_t> data, const sockaddr_in& to,
               std::optional<DeviceAddress> from = std::nullopt);
void TraceReceived(int fd, std::span<const std::uint8_t> captured,
                   const ReceivedDatagram& datagram);
void TraceDatagram(const TracedDatagram& datagram);

} // namespace ostrel
