#include "net/WireTrace.h"

#include "net/ReceivedDatagram.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrel {

namespace {

std::atomic<WireTrace*> processTrace{nullptr};

std::uint64_t Nanoseconds(std::chrono::system_clock::time_point at) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count());
}

// The interface that holds the local address, or whose subnet does; "unknown" for none.
std::string InterfaceHolding(DeviceAddress local) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return "unknown";
    }
    std::string exact;
    std::string subnet;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        const auto address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        const auto mask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask);
        const DeviceAddress own = ntohl(address->sin_addr.s_addr);
        const DeviceAddress bits = mask != nullptr ? ntohl(mask->sin_addr.s_addr) : 0xFFFFFFFF;
        if (own == local && exact.empty()) {
            exact = entry->ifa_name;
        } else if ((own & bits) == (local & bits) && subnet.empty()) {
            subnet = entry->ifa_name;
        }
    }
    ::freeifaddrs(list);
    return !exact.empty() ? exact : !subnet.empty() ? subnet : "unknown";
}

sockaddr_in SocketName(int fd) {
    sockaddr_in name{};
    socklen_t length = sizeof name;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&name), &length);
    return name;
}

} // namespace

std::unique_ptr<WireTrace> WireTrace::Create(const std::string& path, const std::string& program,
                                             Warning warn, std::string& error) {
    UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file.IsValid()) {
        error = std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<WireTrace> trace(new WireTrace(std::move(file), program, std::move(warn)));
    if (!trace->Write(pcapng::SectionHeader(program, "being written"))) {
        error = std::strerror(errno);
        return nullptr;
    }
    return trace;
}

WireTrace::WireTrace(UniqueFd opened, std::string name, Warning warning)
    : file(std::move(opened)), program(std::move(name)), warn(std::move(warning)) {}

WireTrace::~WireTrace() {
    std::lock_guard lock(mutex);
    if (!cut) {
        SetComment("whole: " + std::to_string(datagrams) + " datagrams");
    }
}

bool WireTrace::Write(std::span<const std::uint8_t> block) {
    const ssize_t done = ::write(file.Get(), block.data(), block.size());
    if (done != static_cast<ssize_t>(block.size())) {
        return false;
    }
    written += done;
    return true;
}

bool WireTrace::SetComment(const std::string& comment) {
    const auto slot = pcapng::CommentSlot(comment);
    return ::pwrite(file.Get(), slot.data(), slot.size(),
                    static_cast<off_t>(pcapng::SectionCommentOffset(program))) ==
           static_cast<ssize_t>(slot.size());
}

void WireTrace::Cut(const std::string& why) {
    cut = true;
    // A block half written would hide every block after it from a reader: none follows now,
    // and the file ends at the last whole one.
    const bool whole = ::ftruncate(file.Get(), written) == 0;
    const bool marked =
        SetComment("cut: " + why + " after " + std::to_string(datagrams) + " datagrams");
    if (warn) {
        warn("the trace could not be written on (" + why + "); it ends after " +
             std::to_string(datagrams) + " datagrams" +
             (whole && marked ? "" : ", and may end in a part of a block") +
             ", and the work goes on");
    }
}

std::uint32_t WireTrace::InterfaceFor(DeviceAddress local) {
    if (const auto seen = interfaceOf.find(local); seen != interfaceOf.end()) {
        return seen->second;
    }
    const std::string name = InterfaceHolding(local);
    const auto [known, added] =
        interfaces.try_emplace(name, static_cast<std::uint32_t>(interfaces.size()));
    if (added && !Write(pcapng::InterfaceDescription(name))) {
        Cut(std::strerror(errno));
    }
    interfaceOf.emplace(local, known->second);
    return known->second;
}

DeviceAddress WireTrace::RouteSource(DeviceAddress remote, std::uint16_t port) {
    const auto [known, added] = sourceFor.try_emplace(remote, 0);
    if (added) {
        // Connecting a UDP socket sends nothing; it only picks the route and its source.
        UniqueFd probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        const int on = 1;
        ::setsockopt(probe.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port != 0 ? port : 9);
        to.sin_addr.s_addr = htonl(remote);
        if (::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
            known->second = ntohl(SocketName(probe.Get()).sin_addr.s_addr);
        }
    }
    return known->second;
}

void WireTrace::Record(const TracedDatagram& datagram) {
    std::lock_guard lock(mutex);
    if (cut) {
        return;
    }
    const DeviceAddress local =
        datagram.local != 0 ? datagram.local : RouteSource(datagram.remote, datagram.remotePort);
    const std::uint32_t interfaceId = InterfaceFor(local);
    if (cut) {
        return;
    }
    const bool outbound = datagram.direction == pcapng::Direction::Outbound;
    pcapng::UdpDatagram udp{outbound ? local : datagram.remote,
                            outbound ? datagram.localPort : datagram.remotePort,
                            outbound ? datagram.remote : local,
                            outbound ? datagram.remotePort : datagram.localPort,
                            datagram.captured,
                            datagram.length};
    const auto packet = pcapng::Ipv4Packet(udp, nextId++);
    const std::size_t original = packet.size() - datagram.captured.size() + datagram.length;
    if (!Write(pcapng::EnhancedPacket(interfaceId, Nanoseconds(datagram.at), packet, original,
                                      datagram.direction))) {
        Cut(errno != 0 ? std::strerror(errno) : "short write");
        return;
    }
    ++datagrams;
}

bool WireTrace::WasCut() const {
    std::lock_guard lock(mutex);
    return cut;
}

std::size_t WireTrace::Datagrams() const {
    std::lock_guard lock(mutex);
    return datagrams;
}

WireTraceScope::WireTraceScope(WireTrace& trace) {
    processTrace.store(&trace);
}

WireTraceScope::~WireTraceScope() {
    processTrace.store(nullptr);
}

void TraceDatagram(const TracedDatagram& datagram) {
    if (WireTrace* trace = processTrace.load(std::memory_order_acquire)) {
        trace->Record(datagram);
    }
}

void TraceSent(int fd, std::span<const std::uint8_t> data, const sockaddr_in& to,
               std::optional<DeviceAddress> from) {
    if (processTrace.load(std::memory_order_acquire) == nullptr) {
        return;
    }
    sockaddr_in own = SocketName(fd);
    if (own.sin_port == 0) {
        // The send would bind the socket to a port of the system's choice; binding it so now
        // is the same, and lets the trace name the port before the datagram leaves.
        sockaddr_in any{};
        any.sin_family = AF_INET;
        ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any);
        own = SocketName(fd);
    }
    TracedDatagram datagram;
    datagram.direction = pcapng::Direction::Outbound;
    datagram.local = from.value_or(ntohl(own.sin_addr.s_addr));
    datagram.localPort = ntohs(own.sin_port);
    datagram.remote = ntohl(to.sin_addr.s_addr);
    datagram.remotePort = ntohs(to.sin_port);
    datagram.captured = data;
    datagram.length = data.size();
    datagram.at = std::chrono::system_clock::now();
    TraceDatagram(datagram);
}

void TraceReceived(int fd, std::span<const std::uint8_t> captured,
                   const ReceivedDatagram& received) {
    if (processTrace.load(std::memory_order_acquire) == nullptr) {
        return;
    }
    const sockaddr_in own = SocketName(fd);
    TracedDatagram datagram;
    datagram.direction = pcapng::Direction::Inbound;
    datagram.local = received.destination.value_or(ntohl(own.sin_addr.s_addr));
    datagram.localPort = ntohs(own.sin_port);
    datagram.remote = received.SourceAddress();
    datagram.remotePort = ntohs(received.source.sin_port);
    datagram.captured = captured.first(std::min(captured.size(), received.length));
    datagram.length = received.length;
    datagram.at = received.arrival.value_or(std::chrono::system_clock::now());
    TraceDatagram(datagram);
}

} // namespace ostrel
