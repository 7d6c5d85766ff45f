#pragma once

#include <array>
#include <cstdint>

namespace ostrel::sim {

// What the application firmware reports about itself and keeps from write requests. Text
// fields are NUL-padded; addresses are stored first octet first.
struct ModuleIdentity {
    std::array<std::uint8_t, 8> moduleName{'V', 'E', 'X', 'A', '-', 'I', 'O', 0};
    std::array<std::uint8_t, 6> macAddress{0x00, 0x50, 0xC2, 0x12, 0x34, 0x56};
    std::array<std::uint8_t, 8> versionText{'1', '.', '0', '6', 0, 0, 0, 0};
    // Thirteen characters travel in writes; a fourteenth is reported after them.
    std::array<std::uint8_t, 14> ident{'L', 'a', 'b', '-', '7'};
    std::array<std::uint8_t, 4> ipAddress{127, 0, 0, 1};
    std::array<std::uint8_t, 4> subnetMask{255, 255, 255, 0};
    std::uint16_t dhcpFlags = 0;
    std::uint16_t usbPid = 0x0B71;
    std::uint16_t receptionPort = 6234;
};

} // namespace ostrel::sim
