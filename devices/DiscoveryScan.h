#pragma once

#include "common/UniqueFd.h"
#include "devices/ManagementDatagrams.h"
#include "devices/NetworkInterfaces.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

// A module that answered a discovery request.
struct DiscoveredModule {
    ManagementReply reply;
    DeviceAddress source = 0;   // the reply's sender
    std::string interfaceName;  // the interface the reply came in on
    bool outsideSubnet = false; // its own address is not in that interface's subnet
    bool addressShared = false; // another module (another MAC) reports the same address
};

// One discovery: a read request out of each chosen interface (to the limited broadcast through
// that interface and to its directed broadcast) and to each chosen address, each from a socket
// of the scan's own on a port the system picks; modules answer to that port, so port 6234 stays
// free for the window.
class DiscoveryScan {
public:
    // False, with the reason, when the interface's socket cannot be had.
    bool RequestOn(const NetworkInterface& interface, std::string& error);
    bool RequestTo(DeviceAddress target, std::string& error);

    // The replies that come within the time, each MAC once (the first one heard), in the order
    // they came; datagrams that are no reply or shorter than 65 bytes are ignored. It ends early
    // when stopFd (if given) becomes readable.
    std::vector<DiscoveredModule> Collect(std::chrono::milliseconds wait, int stopFd = -1);

private:
    std::optional<UniqueFd> OpenSocket(DeviceAddress local, std::string& error);
    // Receives one datagram; a good reply from a MAC not heard yet joins the modules.
    void TakeReply(int socket, std::vector<DiscoveredModule>& modules);

    std::vector<UniqueFd> sockets;
};

} // namespace ostrel
