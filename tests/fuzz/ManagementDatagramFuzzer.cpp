// Arbitrary datagrams as management replies, as discovery takes them from anyone on the network,
// and as requests to a module's application. Reading a reply must stay inside its fields and
// agree with the rules (magic, lengths, a node only from a whole reply); the module's model must
// answer only with whole replies; and a write the host builds from what a reply said must come
// back from the module as it was written, so the host's encoder and the module's decoder, written
// from opposite ends, agree on every field.
#include "devices/DeviceList.h"
#include "devices/ManagementDatagrams.h"
#include "sim/ManagementModel.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace {

constexpr std::array<std::uint8_t, 4> replyMagic{0xCA, 0xFE, 0x20, 0x03};

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

void CheckReply(std::span<const std::uint8_t> datagram) {
    using namespace ostrel;
    const ManagementReply reply = ParseReply(datagram);
    Check(reply.magicValid ==
              (datagram.size() >= 4 && std::ranges::equal(datagram.first(4), replyMagic)),
          "magic");
    Check(reply.moduleName.size() <= 8 && reply.versionText.size() <= 8, "text fields");
    Check(reply.SetupIdentification().size() <= identificationLength, "setup identification");
    Check(reply.DiscoveryIdentification().size() <= identificationLength + 1,
          "discovery identification");

    const auto node = DeviceFromReply(datagram);
    Check(node.has_value() == (datagram.size() >= replyBytesRead && reply.magicValid),
          "a module only from a whole reply");
    if (node) {
        Check(node->Address() == reply.Address(), "the node's address is the reply's");
        Check(node->mac == reply.macAddress, "the node's MAC is the reply's");
        Check(MakeLabel(*node).starts_with(reply.moduleName), "the label starts with the name");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ostrel;
    const std::span<const std::uint8_t> datagram(data, size);
    CheckReply(datagram);

    sim::ManagementModel module{sim::ModuleIdentity{}};
    const auto outcome = module.Execute(datagram);
    if (outcome.reply) {
        Check(DeviceFromReply(*outcome.reply).has_value(), "the module answers a whole reply");
    }

    const ManagementReply said = ParseReply(datagram);
    const ModuleConfig config{said.ipAddress, said.subnetMask,    said.DhcpEnabled(),
                              said.usbPid,    said.receptionPort, said.identification};
    const ManagementRequest write = BuildWriteRequest(config);
    Check(module.Execute(write).done, "the module takes the host's write");
    const ManagementReply back = ParseReply(module.BuildReply());
    Check(back.ipAddress == config.ipAddress && back.subnetMask == config.subnetMask,
          "addresses written");
    Check(back.DhcpEnabled() == config.dhcpEnabled, "DHCP written");
    Check(back.usbPid == config.usbPid && back.receptionPort == config.receptionPort,
          "PID and port written");
    Check(back.identification == config.identification, "identification written");
    return 0;
}
